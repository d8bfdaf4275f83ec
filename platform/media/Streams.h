#pragma once
/// Everything a filter author needs: types, identifiers, interfaces, CMediaType and the
/// base classes.

#include "platform/media/Allocator.h"
#include "platform/media/BaseFilter.h"
#include "platform/media/Interfaces.h"
#include "platform/media/MediaType.h"
#include "platform/media/OutputQueue.h"
#include "platform/media/PosPassThru.h"
#include "platform/media/Source.h"
#include "platform/media/Sync.h"
#include "platform/media/TransInPlace.h"
#include "platform/media/Transform.h"
#include "platform/media/Unknown.h"
