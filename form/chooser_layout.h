// The folder chooser's window as data, beside the main window's
// (form_layout.h): its size and the places of its three controls, in
// pixels at 96 dpi.
#pragma once

namespace kestro {

struct ChooserPlace {
    int left, top, width, height;
};

constexpr int kChooserClientWidth = 337;
constexpr int kChooserClientHeight = 226;
constexpr ChooserPlace kChooserTree = {8, 0, 321, 185};
constexpr ChooserPlace kChooserOk = {8, 192, 155, 25};
constexpr ChooserPlace kChooserCancel = {176, 192, 155, 25};

}  // namespace kestro
