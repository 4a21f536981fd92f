// Who makes the terminal, as the caption and the About box name it.
#pragma once

namespace quorvel {

inline constexpr char kMakerName[] = "Brackenfold Electronics";
inline constexpr char kMakerShortName[] = "Brackenfold";
inline constexpr char kMakerWebAddress[] = "www.brackenfold.example";
inline constexpr char kProductName[] = "Quorvel";
inline constexpr char kVersionText[] = "V1.12";
inline constexpr char kCopyrightYear[] = "2025";

}  // namespace quorvel
