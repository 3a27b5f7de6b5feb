#pragma once

// The layer-shell bindings wayland-scanner generates. They name an argument `namespace`, a keyword in C++:
// everything else they include comes first, unchanged.
#include <cstddef>
#include <cstdint>
#include <wayland-client.h>

#define namespace namespace_
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace
