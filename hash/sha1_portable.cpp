// The SHA-1 block function in portable code, correct on every CPU; the
// dispatcher's last choice.

#include "hashbytes.h"
#include "hashkernels.h"

// Sixteen-word rolling message schedule: word t lives in w[t & 15].
#define SHA1_W(t) \
    (w[(t) & 15] = rotl32(w[((t) + 13) & 15] ^ w[((t) + 8) & 15] ^ w[((t) + 2) & 15] ^ w[(t) & 15], 1))

#define SHA1_ROUND(a, b, c, d, e, f, k, x) \
    e += rotl32(a, 5) + (f) + (k) + (x);   \
    b = rotl32(b, 30)

#define SHA1_F1(b, c, d) ((d) ^ ((b) & ((c) ^ (d))))
#define SHA1_F2(b, c, d) ((b) ^ (c) ^ (d))
#define SHA1_F3(b, c, d) (((b) & (c)) | ((d) & ((b) | (c))))

#define SHA1_R0(a, b, c, d, e, t) SHA1_ROUND(a, b, c, d, e, SHA1_F1(b, c, d), 0x5a827999, w[t])
#define SHA1_R1(a, b, c, d, e, t) SHA1_ROUND(a, b, c, d, e, SHA1_F1(b, c, d), 0x5a827999, SHA1_W(t))
#define SHA1_R2(a, b, c, d, e, t) SHA1_ROUND(a, b, c, d, e, SHA1_F2(b, c, d), 0x6ed9eba1, SHA1_W(t))
#define SHA1_R3(a, b, c, d, e, t) SHA1_ROUND(a, b, c, d, e, SHA1_F3(b, c, d), 0x8f1bbcdc, SHA1_W(t))
#define SHA1_R4(a, b, c, d, e, t) SHA1_ROUND(a, b, c, d, e, SHA1_F2(b, c, d), 0xca62c1d6, SHA1_W(t))

#define SHA1_FIVE(R, t)           \
    R(a, b, c, d, e, (t));        \
    R(e, a, b, c, d, (t) + 1);    \
    R(d, e, a, b, c, (t) + 2);    \
    R(c, d, e, a, b, (t) + 3);    \
    R(b, c, d, e, a, (t) + 4)

void sha1BlocksPortable(std::uint32_t state[5], const unsigned char *data, std::size_t blocks)
{
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    for (; blocks > 0; --blocks, data += 64) {
        std::uint32_t w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = loadBe32(data + 4 * i);
        const std::uint32_t a0 = a, b0 = b, c0 = c, d0 = d, e0 = e;

        SHA1_FIVE(SHA1_R0, 0);
        SHA1_FIVE(SHA1_R0, 5);
        SHA1_FIVE(SHA1_R0, 10);
        SHA1_R0(a, b, c, d, e, 15);
        SHA1_R1(e, a, b, c, d, 16);
        SHA1_R1(d, e, a, b, c, 17);
        SHA1_R1(c, d, e, a, b, 18);
        SHA1_R1(b, c, d, e, a, 19);

        SHA1_FIVE(SHA1_R2, 20);
        SHA1_FIVE(SHA1_R2, 25);
        SHA1_FIVE(SHA1_R2, 30);
        SHA1_FIVE(SHA1_R2, 35);

        SHA1_FIVE(SHA1_R3, 40);
        SHA1_FIVE(SHA1_R3, 45);
        SHA1_FIVE(SHA1_R3, 50);
        SHA1_FIVE(SHA1_R3, 55);

        SHA1_FIVE(SHA1_R4, 60);
        SHA1_FIVE(SHA1_R4, 65);
        SHA1_FIVE(SHA1_R4, 70);
        SHA1_FIVE(SHA1_R4, 75);

        a += a0;
        b += b0;
        c += c0;
        d += d0;
        e += e0;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
    state[4] = e;
}
