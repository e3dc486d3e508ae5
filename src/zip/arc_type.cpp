#include "zip/arc_type.h"

bool IsZipType(TArcType type) {
  switch (type) {
    case TArcType::atZip:
    case TArcType::atZipExe:
    case TArcType::atJar:
    case TArcType::atJarExe:
    case TArcType::atZipDS:
    case TArcType::atZipMV:
      return true;
    default:
      return false;
  }
}
