// Whether the fast paths use SSE2: where the compiler targets it (every
// x86-64 does) and the build is not portable. A portable build
// (QV_VCARD_PORTABLE) keeps every path to plain C++, so that the plain twins
// of the SSE2 paths are built and tested on any machine.
//
// Every file with an SSE2 path includes this header and tests
// `#if QV_VCARD_SSE2`, never __SSE2__ itself.
#ifndef QV_VCARD_CARD_SIMD_HPP
#define QV_VCARD_CARD_SIMD_HPP

#if defined(__SSE2__) && !defined(QV_VCARD_PORTABLE)
#define QV_VCARD_SSE2 1
#include <emmintrin.h>
#else
#define QV_VCARD_SSE2 0
#endif

#endif
