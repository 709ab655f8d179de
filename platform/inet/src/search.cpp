#include "search.h"

namespace inet {
namespace {

char folded(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool wildMatch(std::string_view mask, std::string_view name) {
  size_t m = 0, n = 0, star = std::string_view::npos, mark = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      star = m++;
      mark = n;
    } else if (m < mask.size() && (mask[m] == '?' || folded(mask[m]) == folded(name[n]))) {
      ++m;
      ++n;
    } else if (star != std::string_view::npos) {
      m = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

}  // namespace

SearchPlan planSearch(std::string_view pattern) {
  SearchPlan plan;
  if (pattern.size() >= 2 && pattern.front() == '"' && pattern.back() == '"') {
    plan.kind = SearchPlan::Kind::LookUp;
    plan.path.assign(pattern.substr(1, pattern.size() - 2));
    return plan;
  }
  size_t slash = pattern.rfind('/');
  std::string_view last = slash == std::string_view::npos ? pattern : pattern.substr(slash + 1);
  if (pattern.empty() || last.find_first_of("*?") != std::string_view::npos) {
    plan.kind = SearchPlan::Kind::List;
    if (slash != std::string_view::npos)
      plan.directory.assign(slash == 0 ? std::string_view("/") : pattern.substr(0, slash));
    if (last != "*" && last != "*.*") plan.mask.assign(last);
    return plan;
  }
  plan.kind = SearchPlan::Kind::LookUp;
  plan.path.assign(pattern);
  return plan;
}

bool matchesMask(std::string_view mask, std::string_view name) {
  if (mask.empty() || wildMatch(mask, name)) return true;
  // "name.*" also matches a name without any dot, as on Windows.
  if (mask.size() >= 2 && mask.substr(mask.size() - 2) == ".*" && name.find('.') == std::string_view::npos)
    return wildMatch(mask.substr(0, mask.size() - 2), name);
  return false;
}

std::string baseName(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  if (path == "/") return "/";
  size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace inet
