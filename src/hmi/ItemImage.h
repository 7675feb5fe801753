// ItemImage: the bytes of one item the transfer sends, a read-only view into the container's
// one copy. Forms that run side by side on one container (one per port) view the same bytes,
// so that eight ports on a 64 MiB container hold it once. The transfer consumes an image from
// the front (DropFront) without touching the bytes themselves.
#pragma once

#include "platform/SharedBytes.h"

namespace tarvex {

using ItemImage = SharedBytes;

}  // namespace tarvex
