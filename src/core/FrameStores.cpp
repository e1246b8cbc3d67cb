#include "FrameStores.h"

#include <new>

namespace quillon {

bool FrameStores::Allocate() {
    m_rgb.reset(new (std::nothrow) uint8_t[kMaxRgbFrame]);
    m_reduced.reset(new (std::nothrow) uint8_t[kMaxRgbFrame]);
    m_frameCopy.reset(new (std::nothrow) uint8_t[kMaxRawFrame]);
    if (m_rgb && m_reduced && m_frameCopy)
        return true;
    m_rgb.reset();
    m_reduced.reset();
    m_frameCopy.reset();
    return false;
}

} // namespace quillon
