#include "zip/decoders/decode_status.h"

#include "zip/messages.h"

int MessageIdOf(TDecodeStatus status) {
  switch (status) {
    case TDecodeStatus::InvalidData:
    case TDecodeStatus::BadHeader: return zipmsg::kBadBlock;
    case TDecodeStatus::StackOverflow: return zipmsg::kStackOverflow;
    case TDecodeStatus::UnsupportedMethod: return zipmsg::kUnsupportedCompressionMethod;
    case TDecodeStatus::OutputShort: return zipmsg::kErrorWritingToFile;
    case TDecodeStatus::Ok:
    case TDecodeStatus::InputEnded:
    case TDecodeStatus::Cancelled: break;
  }
  return 0;
}
