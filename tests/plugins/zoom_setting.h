// A zoom as a user sets it, in percent and position, and the key the renderer takes.
#pragma once

#include "zoom_render.h"

struct Setting {
    double xZoom = 100, yZoom = 100, xPos = 0, yPos = 0;
};

inline ZoomKey KeyOf(const Setting& s) {
    ZoomKey key{};
    key.xZoom = s.xZoom;
    key.yZoom = s.yZoom;
    key.xPos = s.xPos;
    key.yPos = s.yPos;
    return key;
}
