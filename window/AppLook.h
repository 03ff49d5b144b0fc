#pragma once

// One style and one font for the whole application. Every control is placed by pixel, so the
// program looks the same on every desktop: Fusion, and an 11-pixel Liberation Sans (the size
// the layout was measured for: 8 points at 96 dpi), which also carries Cyrillic.
namespace morlen {
void applyApplicationLook();
}
