// Timed playback of the current slot on the player panel.
#pragma once

// Stops playback, if any, so that no tick reads a stream about to be replaced or released.
void StopPlayback();
