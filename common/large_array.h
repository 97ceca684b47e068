// A table-sized array of records in memory of its own (AllocateLarge): its
// pages are faulted in together and in large pages where the system offers
// them, which costs far less than a fault at the first touch of each page.
// Only for records without destructors: the memory is simply unmapped.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>

#include "platform.h"

namespace quiver {

template <typename T>
class LargeArray {
  static_assert(std::is_trivially_destructible_v<T>);

 public:
  // Records that a read fills leave their bytes unset; others start as
  // value-initialised records (all zero for plain ones).
  enum class Start { kUnset, kValueInitialised };

  LargeArray() = default;
  LargeArray(std::size_t count, Start start)
      : records_(count == 0 ? nullptr : static_cast<T*>(AllocateLarge(count * sizeof(T))),
                 Free{count}),
        size_(count) {
    if (count != 0 && records_ == nullptr) throw std::bad_alloc();
    if (start == Start::kValueInitialised)
      std::uninitialized_value_construct_n(records_.get(), count);
    else
      std::uninitialized_default_construct_n(records_.get(), count);
  }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T* data() { return records_.get(); }
  T& operator[](std::size_t i) { return records_.get()[i]; }
  const T& operator[](std::size_t i) const { return records_.get()[i]; }
  const T* begin() const { return records_.get(); }
  const T* end() const { return records_.get() + size_; }

 private:
  struct Free {
    std::size_t count;
    void operator()(T* records) const { FreeLarge(records, count * sizeof(T)); }
  };
  std::unique_ptr<T, Free> records_;
  std::size_t size_ = 0;
};

}  // namespace quiver
