// Bmp File Open and Bmp File Add: video built from bitmap files. Each bitmap becomes one frame,
// written into temporary AVI files, so that it is edited, played and saved like any other.
#pragma once

class QWidget;

// Makes the chosen bitmap a new one-frame slot at 30 frames per second and makes it current.
// 1 when the slot was added; 0 when cancelled or refused (the user was told why).
int OpenBitmap(QWidget* mainWindow);

// Inserts the chosen bitmap into the current slot as the frame at the range start. The bitmap
// must match the slot's frames in depth, size and compression. 1 when the frame was inserted;
// otherwise the slot, the working stream and the range are as they were.
int AddBitmap(QWidget* mainWindow);
