// Host string library: string arrays and the test for a text scalar.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "host/vx.hpp"

#pragma GCC visibility push(default)

namespace Tessaly::String {

// One element of a string array: missing, or UTF-16 text.
struct StringElement {
    bool missing = false;
    std::u16string text;
};

class StringArray {
  public:
    explicit StringArray(std::vector<StringElement> elements) : elements_(std::move(elements)) {}
    [[nodiscard]] std::size_t getNumberOfElements() const { return elements_.size(); }
    [[nodiscard]] const StringElement& operator[](std::size_t index) const {
        return elements_[index];
    }

  private:
    std::vector<StringElement> elements_;
};

// True for a text scalar: a char row vector (or 0-by-0 char array) or a one-element string array.
bool isScalarText(const vxArray_tag* arg, bool allowCellText, bool allowStringScalar);
bool isString(const vxArray_tag* arg);
const StringArray& getString(const vxArray_tag* arg);

}  // namespace Tessaly::String

#pragma GCC visibility pop
