// The maker's web presence, named in the Help menu, on the web tool button,
// the splash and the information window. The domain is under the reserved
// .example top-level domain until the maker has one of its own.
#pragma once

namespace lumifold::maker {

inline constexpr const char* kWebDomain = "www.pellora.example";
inline constexpr const char* kWebAddress = "https://www.pellora.example/";

}  // namespace lumifold::maker
