// The resources' numbers, for the resource scripts (app/kestro.rc,
// ctl/kestroctl.rc) and the code that loads them.
#pragma once

#define IDI_KESTRO 1
#define IDR_LOGO 100
#define IDB_HELP 101
