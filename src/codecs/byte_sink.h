// Where an encoder hands its output, piece by piece: a file being written, a
// growing buffer in memory, a checksum. The codecs depend on nothing else.
#ifndef IMGTEXT_CODECS_BYTE_SINK_H
#define IMGTEXT_CODECS_BYTE_SINK_H

#include <cstddef>

namespace imgtext {

using write_fn = void (*)(void *context, const void *data, size_t size);

}  // namespace imgtext

#endif
