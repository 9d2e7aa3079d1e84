#include "player.h"

// Nothing plays yet: the player panel gains its controls and timer with playback.
void StopPlayback() {}
