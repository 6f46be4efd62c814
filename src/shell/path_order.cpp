#include "shell/path_order.h"

#include <locale.h>
#include <wchar.h>
#include <wctype.h>

#include <algorithm>
#include <memory>
#include <utility>

namespace lumifold {

namespace {

// A locale_t that frees itself; null when the locale does not exist.
struct LocaleDeleter {
  void operator()(locale_t l) const {
    if (l) freelocale(l);
  }
};
using LocalePtr = std::unique_ptr<std::remove_pointer_t<locale_t>, LocaleDeleter>;

LocalePtr tryLocale(const char* name) {
  return LocalePtr(newlocale(LC_COLLATE_MASK | LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr)));
}

// The named locale, else C.UTF-8 (code point order with Unicode case
// folding), else null, which folds ASCII only.
LocalePtr openLocale(const std::string& name) {
  LocalePtr loc = tryLocale(name.c_str());
  if (!loc) loc = tryLocale("C.UTF-8");
  return loc;
}

// The user's locale, opened once; newlocale is not affected by setlocale in
// the program, only by the environment.
locale_t userLocale() {
  static const LocalePtr user = openLocale("");
  return user.get();
}

// Decodes UTF-8 into code points. A byte that starts no valid sequence maps to
// U+DC80..U+DCFF (as Python's surrogateescape does), so every name keeps a
// distinct, stable key.
std::wstring decodeUtf8(const std::string& s) {
  std::wstring out;
  out.reserve(s.size());
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char b = p[i];
    int length = 0;
    char32_t cp = 0;
    if (b < 0x80) {
      length = 1;
      cp = b;
    } else if (b >= 0xC2 && b <= 0xDF) {
      length = 2;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3;
      cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4;
      cp = b & 0x07;
    }
    bool valid = length > 0 && i + length <= n;
    for (int k = 1; valid && k < length; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) valid = false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    // Overlong forms, surrogates and values beyond U+10FFFF are not valid.
    if (valid && ((length == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
                  (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)))) {
      valid = false;
    }
    if (valid) {
      out.push_back(static_cast<wchar_t>(cp));
      i += length;
    } else {
      out.push_back(static_cast<wchar_t>(0xDC00 + b));
      i += 1;
    }
  }
  return out;
}

// The collation key of a path: its case-folded form, transformed so that
// comparing keys element by element is comparing with wcscoll.
std::wstring sortKey(const std::string& path, locale_t loc) {
  std::wstring folded = decodeUtf8(path);
  if (!loc) {
    for (wchar_t& c : folded) c = static_cast<wchar_t>(towlower(c));
    return folded;
  }
  for (wchar_t& c : folded) c = static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), loc));
  // wcsxfrm stops at a NUL, which a std::string path cannot hold anyway.
  std::wstring key(folded.size() * 4 + 16, L'\0');
  for (;;) {
    const std::size_t need = wcsxfrm_l(key.data(), folded.c_str(), key.size(), loc);
    if (need < key.size()) {
      key.resize(need);
      return key;
    }
    key.resize(need + 1);
  }
}

void sortWith(std::vector<std::string>& paths, locale_t loc) {
  std::vector<std::pair<std::wstring, std::string>> keyed;
  keyed.reserve(paths.size());
  for (std::string& p : paths) {
    std::wstring key = sortKey(p, loc);
    keyed.emplace_back(std::move(key), std::move(p));
  }
  // Keys first, then the exact bytes: equal-looking names keep a fixed order.
  std::sort(keyed.begin(), keyed.end());
  paths.clear();
  for (auto& entry : keyed) {
    if (paths.empty() || paths.back() != entry.second) paths.push_back(std::move(entry.second));
  }
}

}  // namespace

void sortPaths(std::vector<std::string>& paths) { sortWith(paths, userLocale()); }

void sortPaths(std::vector<std::string>& paths, const std::string& localeName) {
  const LocalePtr loc = openLocale(localeName);
  sortWith(paths, loc.get());
}

bool pathLess(const std::string& a, const std::string& b) {
  const std::wstring ka = sortKey(a, userLocale());
  const std::wstring kb = sortKey(b, userLocale());
  if (ka != kb) return ka < kb;
  return a < b;
}

}  // namespace lumifold
