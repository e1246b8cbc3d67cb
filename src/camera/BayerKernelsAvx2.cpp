#include "camera/BayerKernels.h"

#include <immintrin.h>

// AVX2 row kernels. The file is compiled for plain x86-64; only the functions marked with the
// target attribute below use AVX2, and they run only after Avx2Supported() said yes. The AVX2
// helpers must be inlined into them; falling back to the plain row kernels for narrow rows and
// the tail of a row is fine.
#define QUILLON_AVX2 __attribute__((target("avx2")))
#define QUILLON_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

namespace quillon::bayer {

namespace {

constexpr uint32_t kLanes = 32;     // pixels per vector step
constexpr uint32_t kHalfLanes = 16; // pixels per 128-bit half
constexpr int8_t kZeroByte = -128;  // pshufb index that yields 0

// Interleaving three 16-byte planes (blue, green, red) into 48 bytes: byte j of output part k
// is channel (16k + j) % 3 of pixel (16k + j) / 3.
struct InterleaveTable {
    alignas(16) int8_t index[3][3][kHalfLanes]; // [part][channel][byte]
};

constexpr InterleaveTable MakeInterleaveTable() {
    InterleaveTable table{};
    for (int part = 0; part < 3; ++part) {
        for (int channel = 0; channel < 3; ++channel) {
            for (int j = 0; j < static_cast<int>(kHalfLanes); ++j) {
                const int outByte = static_cast<int>(kHalfLanes) * part + j;
                table.index[part][channel][j] =
                    outByte % 3 == channel ? static_cast<int8_t>(outByte / 3) : kZeroByte;
            }
        }
    }
    return table;
}

constexpr InterleaveTable kInterleave = MakeInterleaveTable();

struct InterleaveMasks {
    __m256i index[3][3];
};

QUILLON_AVX2_INLINE InterleaveMasks LoadInterleaveMasks() {
    InterleaveMasks masks;
    for (int part = 0; part < 3; ++part) {
        for (int channel = 0; channel < 3; ++channel) {
            const __m128i half =
                _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.index[part][channel]));
            masks.index[part][channel] = _mm256_broadcastsi128_si256(half);
        }
    }
    return masks;
}

QUILLON_AVX2_INLINE __m256i Load(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

QUILLON_AVX2_INLINE void Store(uint8_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// Writes 32 pixels (96 bytes) from three planes.
QUILLON_AVX2_INLINE void StoreInterleaved(uint8_t* dest, __m256i blue, __m256i green, __m256i red,
                                          const InterleaveMasks& m) {
    __m256i part[3];
    for (int k = 0; k < 3; ++k) {
        part[k] = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(blue, m.index[k][0]),
                                                  _mm256_shuffle_epi8(green, m.index[k][1])),
                                  _mm256_shuffle_epi8(red, m.index[k][2]));
    }
    // Each part holds pixels 0..15 in its low half and 16..31 in its high half; put the halves
    // in memory order: low parts 0, 1, 2, then high parts 0, 1, 2.
    Store(dest, _mm256_permute2x128_si256(part[0], part[1], 0x20));
    Store(dest + 32, _mm256_permute2x128_si256(part[2], part[0], 0x30));
    Store(dest + 64, _mm256_permute2x128_si256(part[1], part[2], 0x31));
}

// (a + b + c + d + 2) >> 2 from ab = avg(a, b) and cd = avg(c, d): the rounded-up averages lose
// at most one, exactly when ab + cd is odd and a + b or c + d was odd.
QUILLON_AVX2_INLINE __m256i Mean4(__m256i a, __m256i b, __m256i c, __m256i d, __m256i ab,
                                  __m256i cd, __m256i one) {
    const __m256i oddInput = _mm256_or_si256(_mm256_xor_si256(a, b), _mm256_xor_si256(c, d));
    const __m256i correction =
        _mm256_and_si256(_mm256_and_si256(_mm256_xor_si256(ab, cd), oddInput), one);
    return _mm256_sub_epi8(_mm256_avg_epu8(ab, cd), correction);
}

struct RowRefs {
    const uint8_t* up;
    const uint8_t* cur;
    const uint8_t* down;
    uint8_t* dest;
};

// 32 output pixels starting at column x (1 <= x, x + 32 <= width - 1). `colourSites` has 0xFF
// in the lanes that hold this row's red or blue pixels.
template <bool kRedRow>
QUILLON_AVX2_INLINE void DemosaicStep(const RowRefs& row, uint32_t x, __m256i colourSites,
                                      __m256i one, const InterleaveMasks& masks) {
    const __m256i left = Load(row.cur + x - 1);
    const __m256i centre = Load(row.cur + x);
    const __m256i right = Load(row.cur + x + 1);
    const __m256i up = Load(row.up + x);
    const __m256i down = Load(row.down + x);
    const __m256i upLeft = Load(row.up + x - 1);
    const __m256i upRight = Load(row.up + x + 1);
    const __m256i downLeft = Load(row.down + x - 1);
    const __m256i downRight = Load(row.down + x + 1);

    const __m256i horizontal = _mm256_avg_epu8(left, right);
    const __m256i vertical = _mm256_avg_epu8(up, down);
    const __m256i cross = Mean4(left, right, up, down, horizontal, vertical, one);
    const __m256i upPair = _mm256_avg_epu8(upLeft, upRight);
    const __m256i downPair = _mm256_avg_epu8(downLeft, downRight);
    const __m256i diagonal = Mean4(upLeft, upRight, downLeft, downRight, upPair, downPair, one);

    // Colour sites: own colour as read, green from the cross, other colour from the diagonals.
    // Green sites: own colour from left and right, green as read, other colour from up and down.
    const __m256i own = _mm256_blendv_epi8(horizontal, centre, colourSites);
    const __m256i green = _mm256_blendv_epi8(centre, cross, colourSites);
    const __m256i other = _mm256_blendv_epi8(vertical, diagonal, colourSites);
    if constexpr (kRedRow) {
        StoreInterleaved(row.dest + 3 * x, other, green, own, masks);
    } else {
        StoreInterleaved(row.dest + 3 * x, own, green, other, masks);
    }
}

template <bool kRedRow> QUILLON_AVX2_INLINE void DemosaicRow(const RowRefs& row, uint32_t width) {
    const InterleaveMasks masks = LoadInterleaveMasks();
    const __m256i one = _mm256_set1_epi8(1);
    const __m256i evenLanes = _mm256_set1_epi16(0x00FF);
    const __m256i oddLanes = _mm256_set1_epi16(static_cast<int16_t>(0xFF00));
    // Lane i is a colour site when x + i has the colour parity of the row (even on red rows).
    const uint32_t colourParity = kRedRow ? 0 : 1;
    auto sitesFor = [&](uint32_t x)
                        QUILLON_AVX2 { return ((x & 1) == colourParity) ? evenLanes : oddLanes; };

    const uint32_t lastStart = width - 1 - kLanes;
    const __m256i firstSites = sitesFor(1);
    for (uint32_t x = 1; x < lastStart; x += kLanes) {
        DemosaicStep<kRedRow>(row, x, firstSites, one, masks);
    }
    // The last step ends exactly at the last interior pixel, overlapping the one before.
    DemosaicStep<kRedRow>(row, lastStart, sitesFor(lastStart), one, masks);
}

} // namespace

bool Avx2Supported() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

QUILLON_AVX2 void DemosaicRowAvx2(const uint8_t* up, const uint8_t* cur, const uint8_t* down,
                                  uint8_t* dest, uint32_t width, bool redRow) {
    if (width < kLanes + 2) {
        DemosaicRowScalar(up, cur, down, dest, width, redRow);
        return;
    }
    const RowRefs row{up, cur, down, dest};
    if (redRow) {
        DemosaicRow<true>(row, width);
    } else {
        DemosaicRow<false>(row, width);
    }
}

QUILLON_AVX2 void GreyRowAvx2(const uint8_t* source, uint8_t* dest, uint32_t count) {
    const InterleaveMasks masks = LoadInterleaveMasks();
    uint32_t i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        const __m256i grey = Load(source + i);
        StoreInterleaved(dest + 3 * i, grey, grey, grey, masks);
    }
    GreyRowScalar(source + i, dest + 3 * i, count - i);
}

} // namespace quillon::bayer
