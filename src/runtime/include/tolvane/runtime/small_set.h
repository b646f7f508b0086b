#pragma once
// Sets of enumeration values with ordinals 0 to 31, held as bits.
#include <cstdint>
#include <initializer_list>

namespace tolvane {

template <class E>
class TSet {
 public:
  using Element = E;
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> Elements) {
    for (E e : Elements) Include(e);
  }
  static constexpr TSet FromBits(std::uint32_t Bits) {
    TSet s;
    s.FBits = Bits;
    return s;
  }

  constexpr bool Contains(E Element) const { return Valid(Element) && (FBits >> unsigned(Element) & 1u); }
  constexpr TSet& Include(E Element) {
    if (Valid(Element)) FBits |= 1u << unsigned(Element);
    return *this;
  }
  constexpr TSet& Exclude(E Element) {
    if (Valid(Element)) FBits &= ~(1u << unsigned(Element));
    return *this;
  }
  constexpr std::uint32_t Bits() const { return FBits; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr bool operator==(const TSet&) const = default;

 private:
  static constexpr bool Valid(E Element) { return unsigned(Element) < 32; }
  std::uint32_t FBits = 0;
};

}  // namespace tolvane
