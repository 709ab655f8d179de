#include "search.h"

#include "kernel/names.h"

namespace inet {
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
  return mask.empty() || kernel::names::wildcardMatch(mask, name);
}

std::string baseName(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  if (path == "/") return "/";
  size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace inet
