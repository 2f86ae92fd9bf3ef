// More than 2^31 - 1 entries: every write lands inside the arrays.
//
// Arrays of that size would need over 32 GiB, so each array here is a long
// virtual range that maps one small memory file over and over, between two
// inaccessible guard pages.  A wrapped 32-bit offset writes before the
// array and faults.  The last block is written last, so its rows, columns
// and top value can be checked; the positions below the top read what
// earlier blocks left in the shared memory, so they are not.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include "helpers.hpp"

namespace {

class AliasedArray {
 public:
  static constexpr size_t kChunk = size_t(16) << 20;

  explicit AliasedArray(size_t bytes) {
    page_ = size_t(sysconf(_SC_PAGESIZE));
    span_ = (bytes + kChunk - 1) / kChunk * kChunk;
    total_ = span_ + 2 * page_;
    fd_ = memfd_create("bsbasis-alias", 0);
    if (fd_ < 0 || ftruncate(fd_, kChunk) != 0) return;
    void *base = mmap(nullptr, total_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (base == MAP_FAILED) return;
    base_ = static_cast<char *>(base);
    for (size_t off = 0; off < span_; off += kChunk)
      if (mmap(base_ + page_ + off, kChunk, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED,
               fd_, 0) == MAP_FAILED) {
        ok_ = false;
        return;
      }
    ok_ = true;
  }
  ~AliasedArray() {
    if (base_) munmap(base_, total_);
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return ok_; }
  template <class T> T *data() { return reinterpret_cast<T *>(base_ + page_); }
  // The array's last element: it has a chunk-aligned end only when the byte
  // count is a whole number of chunks, so the end is computed from the count.
  template <class T> T *at(size_t n) { return data<T>() + n; }

 private:
  size_t page_ = 0, span_ = 0, total_ = 0;
  int fd_ = -1;
  char *base_ = nullptr;
  bool ok_ = false;
};

TEST(Offsets, EntriesBeyondTwoToThe31) {
  const int order = 2;
  const int nx = (1 << 30) + 1000;  // nx * order > 2^31 - 1
  const size_t N = size_t(nx) * order;
  AliasedArray x(size_t(nx) * sizeof(double)), i(N * sizeof(int)), j(N * sizeof(int)),
      B(N * sizeof(double));
  if (!x.ok() || !i.ok() || !j.ok() || !B.ok()) GTEST_SKIP() << "cannot map the arrays";

  // Every abscissa reads 2.25 (the mapped chunk repeats).
  double *xs = x.data<double>();
  for (size_t e = 0; e < AliasedArray::kChunk / sizeof(double); ++e) xs[e] = 2.25;

  const size_t last = N - order;
  blossom(xs, nx, i.data<int>(), j.data<int>(), B.data<double>(), 0, order, order, 10);
  EXPECT_EQ(i.at<int>(last)[0], nx - 1);
  EXPECT_EQ(i.at<int>(last)[1], nx - 1);
  EXPECT_EQ(j.at<int>(last)[0], 1);
  EXPECT_EQ(j.at<int>(last)[1], 2);
  EXPECT_EQ(B.at<double>(last)[1], 0.25);  // (2.25 - 2) / 1 * 1

  // The knot kernel stopped one level short, then the derivative kernel.
  std::vector<double> t = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  i.at<int>(last)[1] = j.at<int>(last)[1] = -1;
  blossom_grid(t.data(), 12, xs, nx, i.data<int>(), j.data<int>(), B.data<double>(), 0,
               order - 1, order, 10);
  EXPECT_EQ(i.at<int>(last)[1], nx - 1);
  EXPECT_EQ(j.at<int>(last)[1], 2);
  EXPECT_EQ(B.at<double>(last)[1], 1.0);
  deriv_grid(t.data(), 12, i.data<int>(), j.data<int>(), B.data<double>(), 0, nx, order);
  EXPECT_EQ(B.at<double>(last)[1], 1.0);  // (1 / (t[3] - t[2]) * 1) * 1
}

}  // namespace
