// Every evaluation path of this build on this CPU: the generic paths alone,
// then each supported instruction-set variant of the tiled kernels.  Tests
// that link the library's objects run the exports through each in turn.
#ifndef BSBASIS_TESTS_PATHS_HPP
#define BSBASIS_TESTS_PATHS_HPP

#include <ostream>
#include <string>
#include <vector>

#include "lanes/dispatch.hpp"

namespace testing_bsbasis {

struct Path {
  std::string name;
  const bsbasis::KernelTable *table;
};

inline std::vector<Path> paths_here() {
  std::vector<Path> v{{"generic", &bsbasis::kGenericOnly}};
  for (int k = 0; k < bsbasis::kIsaVariantCount; ++k)
    if (bsbasis::supported(bsbasis::kIsaVariants[k]))
      v.push_back({bsbasis::kIsaVariants[k].name, bsbasis::kIsaVariants[k].table});
  return v;
}

// For test names and messages.
inline void PrintTo(const Path &p, std::ostream *os) { *os << p.name; }

// Routes every export through one path while alive.
class UsePath {
 public:
  explicit UsePath(const Path &p) { bsbasis::use_kernels_for_testing(p.table); }
  ~UsePath() { bsbasis::use_kernels_for_testing(nullptr); }
  UsePath(const UsePath &) = delete;
  UsePath &operator=(const UsePath &) = delete;
};

}  // namespace testing_bsbasis

#endif
