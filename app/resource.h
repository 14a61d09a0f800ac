#pragma once

#define IDI_KESTRO 1
#define IDR_LOGO 100
#define IDB_HELP 101
