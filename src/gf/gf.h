// A field element of GF(2^8) or GF(2^4), one per byte.
#pragma once

typedef unsigned char gf;
