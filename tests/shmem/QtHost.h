#pragma once

#include <QSharedMemory>
#include <QtEndian>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/PrivateTempDir.h"

namespace quillon {

// A photo-finish host as one would write it with Qt: QSharedMemory (and through it
// QSystemSemaphore) with key "VL_QUILLONID", the host block written under Qt's lock.
struct QtHost {
    void WriteBlock(uint16_t flags, uint32_t counter, uint32_t t1, uint32_t t0, double scale) {
        uint8_t block[40] = {};
        qToLittleEndian(flags, block);
        qToBigEndian(counter, block + 4);
        qToBigEndian(t1, block + 8);
        qToBigEndian(t0, block + 20);
        std::memcpy(block + 32, &scale, 8); // this machine is little-endian, as the field
        memory.lock();
        std::memcpy(memory.data(), block, sizeof block);
        memory.unlock();
    }

    std::string Bytes(int offset, int length) {
        memory.lock();
        std::string bytes(static_cast<const char*>(memory.constData()) + offset, size_t(length));
        memory.unlock();
        return bytes;
    }
    // The path field as a host reads it: up to the first zero, at most 128 characters.
    std::string Path() {
        const std::string field = Bytes(41, int(std::min<qsizetype>(128, memory.size() - 41)));
        return field.substr(0, field.find('\0'));
    }

    QSharedMemory memory{"VL_QUILLONID"};
};

} // namespace quillon
