#pragma once
// The loopback peers live with the other test peers, which the development service links too.
#include "tests/peers/LoopbackPeer.h"
