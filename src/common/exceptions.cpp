#include "common/exceptions.h"

#include "common/text.h"

namespace velquarn {

EListError::EListError(long index) : Exception(Format("List index out of bounds (%ld)", index)) {}

}  // namespace velquarn
