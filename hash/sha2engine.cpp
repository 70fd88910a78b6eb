#include "sha2engine.h"

#include "hashbytes.h"
#include "hashcpu.h"

#include <cstring>

namespace {

const std::uint32_t k256[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

const std::uint64_t k512[80] = {
    0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc,
    0x3956c25bf348b538, 0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118,
    0xd807aa98a3030242, 0x12835b0145706fbe, 0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2,
    0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235, 0xc19bf174cf692694,
    0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
    0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5,
    0x983e5152ee66dfab, 0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4,
    0xc6e00bf33da88fc2, 0xd5a79147930aa725, 0x06ca6351e003826f, 0x142929670a0e6e70,
    0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed, 0x53380d139d95b3df,
    0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
    0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30,
    0xd192e819d6ef5218, 0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8,
    0x19a4c116b8d2d0c8, 0x1e376c085141ab53, 0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8,
    0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373, 0x682e6ff3d6b2b8a3,
    0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
    0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b,
    0xca273eceea26619c, 0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178,
    0x06f067aa72176fba, 0x0a637dc5a2c898a6, 0x113f9804bef90dae, 0x1b710b35131c471b,
    0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc, 0x431d67c49c100d4c,
    0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817};

const char hexDigits[] = "0123456789abcdef";

void toHex(const unsigned char *digest, std::size_t bytes, char *text)
{
    for (std::size_t i = 0; i < bytes; ++i) {
        text[2 * i] = hexDigits[digest[i] >> 4];
        text[2 * i + 1] = hexDigits[digest[i] & 15];
    }
    text[2 * bytes] = '\0';
}

} // namespace

// One round; the eight working variables rotate by renaming instead of by
// moving. Word t of the schedule lives in w[t & 15].
#define SHA256_S0(x) (rotr32(x, 2) ^ rotr32(x, 13) ^ rotr32(x, 22))
#define SHA256_S1(x) (rotr32(x, 6) ^ rotr32(x, 11) ^ rotr32(x, 25))
#define SHA256_s0(x) (rotr32(x, 7) ^ rotr32(x, 18) ^ ((x) >> 3))
#define SHA256_s1(x) (rotr32(x, 17) ^ rotr32(x, 19) ^ ((x) >> 10))

#define SHA2_CH(e, f, g) ((g) ^ ((e) & ((f) ^ (g))))
#define SHA2_MAJ(a, b, c) (((a) & (b)) | ((c) & ((a) | (b))))

#define SHA256_ROUND(a, b, c, d, e, f, g, h, t, x)                          \
    do {                                                                    \
        const std::uint32_t t1 = h + SHA256_S1(e) + SHA2_CH(e, f, g) + k256[t] + (x); \
        d += t1;                                                            \
        h = t1 + SHA256_S0(a) + SHA2_MAJ(a, b, c);                          \
    } while (0)

#define SHA256_W(t)                                                                           \
    (w[(t) & 15] += SHA256_s1(w[((t) + 14) & 15]) + w[((t) + 9) & 15] + SHA256_s0(w[((t) + 1) & 15]))

#define SHA256_EIGHT(t, X)                                \
    SHA256_ROUND(a, b, c, d, e, f, g, h, (t), X((t)));         \
    SHA256_ROUND(h, a, b, c, d, e, f, g, (t) + 1, X((t) + 1)); \
    SHA256_ROUND(g, h, a, b, c, d, e, f, (t) + 2, X((t) + 2)); \
    SHA256_ROUND(f, g, h, a, b, c, d, e, (t) + 3, X((t) + 3)); \
    SHA256_ROUND(e, f, g, h, a, b, c, d, (t) + 4, X((t) + 4)); \
    SHA256_ROUND(d, e, f, g, h, a, b, c, (t) + 5, X((t) + 5)); \
    SHA256_ROUND(c, d, e, f, g, h, a, b, (t) + 6, X((t) + 6)); \
    SHA256_ROUND(b, c, d, e, f, g, h, a, (t) + 7, X((t) + 7))

#define SHA2_PLAIN(t) w[(t)]

void sha256BlocksPortable(std::uint32_t state[8], const unsigned char *data, std::size_t blocks)
{
    for (; blocks > 0; --blocks, data += 64) {
        std::uint32_t w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = loadBe32(data + 4 * i);
        std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];

        SHA256_EIGHT(0, SHA2_PLAIN);
        SHA256_EIGHT(8, SHA2_PLAIN);
        SHA256_EIGHT(16, SHA256_W);
        SHA256_EIGHT(24, SHA256_W);
        SHA256_EIGHT(32, SHA256_W);
        SHA256_EIGHT(40, SHA256_W);
        SHA256_EIGHT(48, SHA256_W);
        SHA256_EIGHT(56, SHA256_W);

        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

#define SHA512_S0(x) (rotr64(x, 28) ^ rotr64(x, 34) ^ rotr64(x, 39))
#define SHA512_S1(x) (rotr64(x, 14) ^ rotr64(x, 18) ^ rotr64(x, 41))
#define SHA512_s0(x) (rotr64(x, 1) ^ rotr64(x, 8) ^ ((x) >> 7))
#define SHA512_s1(x) (rotr64(x, 19) ^ rotr64(x, 61) ^ ((x) >> 6))

#define SHA512_ROUND(a, b, c, d, e, f, g, h, t, x)                          \
    do {                                                                    \
        const std::uint64_t t1 = h + SHA512_S1(e) + SHA2_CH(e, f, g) + k512[t] + (x); \
        d += t1;                                                            \
        h = t1 + SHA512_S0(a) + SHA2_MAJ(a, b, c);                          \
    } while (0)

#define SHA512_W(t)                                                                           \
    (w[(t) & 15] += SHA512_s1(w[((t) + 14) & 15]) + w[((t) + 9) & 15] + SHA512_s0(w[((t) + 1) & 15]))

#define SHA512_EIGHT(t, X)                                     \
    SHA512_ROUND(a, b, c, d, e, f, g, h, (t), X((t)));         \
    SHA512_ROUND(h, a, b, c, d, e, f, g, (t) + 1, X((t) + 1)); \
    SHA512_ROUND(g, h, a, b, c, d, e, f, (t) + 2, X((t) + 2)); \
    SHA512_ROUND(f, g, h, a, b, c, d, e, (t) + 3, X((t) + 3)); \
    SHA512_ROUND(e, f, g, h, a, b, c, d, (t) + 4, X((t) + 4)); \
    SHA512_ROUND(d, e, f, g, h, a, b, c, (t) + 5, X((t) + 5)); \
    SHA512_ROUND(c, d, e, f, g, h, a, b, (t) + 6, X((t) + 6)); \
    SHA512_ROUND(b, c, d, e, f, g, h, a, (t) + 7, X((t) + 7))

void sha512BlocksPortable(std::uint64_t state[8], const unsigned char *data, std::size_t blocks)
{
    for (; blocks > 0; --blocks, data += 128) {
        std::uint64_t w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = loadBe64(data + 8 * i);
        std::uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
        std::uint64_t e = state[4], f = state[5], g = state[6], h = state[7];

        SHA512_EIGHT(0, SHA2_PLAIN);
        SHA512_EIGHT(8, SHA2_PLAIN);
        SHA512_EIGHT(16, SHA512_W);
        SHA512_EIGHT(24, SHA512_W);
        SHA512_EIGHT(32, SHA512_W);
        SHA512_EIGHT(40, SHA512_W);
        SHA512_EIGHT(48, SHA512_W);
        SHA512_EIGHT(56, SHA512_W);
        SHA512_EIGHT(64, SHA512_W);
        SHA512_EIGHT(72, SHA512_W);

        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

void sha2engine::sha256Init(sha256context *context)
{
    static const std::uint32_t initial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::memcpy(context->state, initial, sizeof(initial));
    context->bitCount = 0;
}

void sha2engine::sha256Update(sha256context *context, const unsigned char *data, std::size_t length)
{
    if (length == 0)
        return;
    std::size_t index = static_cast<std::size_t>(context->bitCount >> 3) & 63;
    context->bitCount += std::uint64_t(length) << 3;

    if (index != 0) {
        const std::size_t fill = 64 - index;
        if (length < fill) {
            std::memcpy(context->buffer + index, data, length);
            return;
        }
        std::memcpy(context->buffer + index, data, fill);
        sha256Blocks(context->state, context->buffer, 1);
        data += fill;
        length -= fill;
    }
    const std::size_t blocks = length / 64;
    if (blocks > 0) {
        sha256Blocks(context->state, data, blocks);
        data += blocks * 64;
        length -= blocks * 64;
    }
    if (length > 0)
        std::memcpy(context->buffer, data, length);
}

void sha2engine::sha256Final(sha256context *context, char text[65])
{
    std::size_t index = static_cast<std::size_t>(context->bitCount >> 3) & 63;
    context->buffer[index++] = 0x80;
    if (index > 56) {
        std::memset(context->buffer + index, 0, 64 - index);
        sha256Blocks(context->state, context->buffer, 1);
        index = 0;
    }
    std::memset(context->buffer + index, 0, 56 - index);
    storeBe64(context->buffer + 56, context->bitCount);
    sha256Blocks(context->state, context->buffer, 1);

    unsigned char digest[32];
    for (int i = 0; i < 8; ++i)
        storeBe32(digest + 4 * i, context->state[i]);
    toHex(digest, sizeof(digest), text);
}

void sha2engine::sha384Init(sha512context *context)
{
    static const std::uint64_t initial[8] = {0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17,
                                             0x152fecd8f70e5939, 0x67332667ffc00b31, 0x8eb44a8768581511,
                                             0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};
    std::memcpy(context->state, initial, sizeof(initial));
    context->bitCount[0] = 0;
    context->bitCount[1] = 0;
}

void sha2engine::sha384Update(sha512context *context, const unsigned char *data, std::size_t length)
{
    sha512Update(context, data, length);
}

void sha2engine::sha384Final(sha512context *context, char text[97])
{
    char full[129];
    sha512Final(context, full);
    std::memcpy(text, full, 96);
    text[96] = '\0';
}

void sha2engine::sha512Init(sha512context *context)
{
    static const std::uint64_t initial[8] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b,
                                             0xa54ff53a5f1d36f1, 0x510e527fade682d1, 0x9b05688c2b3e6c1f,
                                             0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};
    std::memcpy(context->state, initial, sizeof(initial));
    context->bitCount[0] = 0;
    context->bitCount[1] = 0;
}

void sha2engine::sha512Update(sha512context *context, const unsigned char *data, std::size_t length)
{
    if (length == 0)
        return;
    std::size_t index = static_cast<std::size_t>(context->bitCount[0] >> 3) & 127;
    // The bit count is 128 bits wide: carry into the high word. A size_t
    // shifted by three can lose its top bits, which go to the high word too.
    const std::uint64_t low = std::uint64_t(length) << 3;
    const std::uint64_t high = std::uint64_t(length) >> 61;
    context->bitCount[0] += low;
    context->bitCount[1] += high + (context->bitCount[0] < low ? 1 : 0);

    if (index != 0) {
        const std::size_t fill = 128 - index;
        if (length < fill) {
            std::memcpy(context->buffer + index, data, length);
            return;
        }
        std::memcpy(context->buffer + index, data, fill);
        sha512Blocks(context->state, context->buffer, 1);
        data += fill;
        length -= fill;
    }
    const std::size_t blocks = length / 128;
    if (blocks > 0) {
        sha512Blocks(context->state, data, blocks);
        data += blocks * 128;
        length -= blocks * 128;
    }
    if (length > 0)
        std::memcpy(context->buffer, data, length);
}

void sha2engine::sha512Final(sha512context *context, char text[129])
{
    std::size_t index = static_cast<std::size_t>(context->bitCount[0] >> 3) & 127;
    context->buffer[index++] = 0x80;
    if (index > 112) {
        std::memset(context->buffer + index, 0, 128 - index);
        sha512Blocks(context->state, context->buffer, 1);
        index = 0;
    }
    std::memset(context->buffer + index, 0, 112 - index);
    storeBe64(context->buffer + 112, context->bitCount[1]);
    storeBe64(context->buffer + 120, context->bitCount[0]);
    sha512Blocks(context->state, context->buffer, 1);

    unsigned char digest[64];
    for (int i = 0; i < 8; ++i)
        storeBe64(digest + 8 * i, context->state[i]);
    toHex(digest, sizeof(digest), text);
}

std::string sha2engine::textOf(const unsigned char *text)
{
    return std::string(reinterpret_cast<const char *>(text));
}
