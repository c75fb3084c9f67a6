// The return codes of the media layer: what zv_rsfec_encode and
// zv_rsfec_decode answer (zv_rsfec.h lists them for callers), and what the
// media core answers the layers above it.
#pragma once

namespace zv::code {

inline constexpr int kOk = 0;
inline constexpr int kNotInitialised = -1;
// Encode: no media packets or bad arguments. Decode: no FEC packet, or a
// refused FEC header.
inline constexpr int kBadArguments = -2;
// Too few symbols to decode; video version 1: a working table not allocated.
inline constexpr int kTooFewSymbols = -3;
// The Cauchy codec failed (version 2); the codec session was not created
// (video version 1).
inline constexpr int kCodecFailure = -4;
inline constexpr int kSessionParametersRefused = -5;
inline constexpr int kRepairNotBuilt = -6;
inline constexpr int kNotEnoughPackets = -100;
inline constexpr int kMediaTooLong = -101;
inline constexpr int kIndexTooLarge = -102;
inline constexpr int kSymbolRefused = -103;
inline constexpr int kSourcesUnavailable = -105;
inline constexpr int kDecodingIncomplete = -106;
inline constexpr int kNoVariant = -4096;

}  // namespace zv::code
