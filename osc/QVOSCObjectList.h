#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <vector>

class QVOSCObject;

// A packet's attached objects, in attachment order. The first few are held in the packet itself,
// since a message usually has one to three arguments; past that, all of them move to a vector.
class QVOSCObjectList {
  public:
    using value_type = std::shared_ptr<QVOSCObject>;

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const value_type& operator[](size_t index) const { return data()[index]; }
    const value_type* begin() const { return data(); }
    const value_type* end() const { return data() + size_; }
    value_type* begin() { return data(); }
    value_type* end() { return data() + size_; }

    void push_back(value_type object) {
        if (spilled_.empty() && size_ < kInlineCapacity) {
            inline_[size_++] = std::move(object);
            return;
        }
        if (spilled_.empty()) {
            spilled_.reserve(2 * kInlineCapacity);
            for (value_type& held : inline_) {
                spilled_.push_back(std::move(held));
            }
        }
        spilled_.push_back(std::move(object));
        ++size_;
    }

    void clear() {
        inline_ = {};
        spilled_.clear();
        size_ = 0;
    }

  private:
    static constexpr size_t kInlineCapacity = 3;

    const value_type* data() const { return spilled_.empty() ? inline_.data() : spilled_.data(); }
    value_type* data() { return spilled_.empty() ? inline_.data() : spilled_.data(); }

    std::array<value_type, kInlineCapacity> inline_;
    std::vector<value_type> spilled_;  // every object once there are more than fit inline
    size_t size_ = 0;
};
