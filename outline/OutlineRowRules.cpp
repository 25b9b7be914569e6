// Compiled once per vector path (Highway's foreach_target); the path is
// chosen at run time by qfx::simd, as for every vector loop.
//
// Exactness: no fused multiply-add (the source is built with contraction
// off), and every decision is one of the rules' own comparisons, made on
// the very values the rules compare.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "OutlineRowRules.cpp"
#include "SimdTargets.h"
#include "hwy/foreach_target.h" // IWYU pragma: keep
#include "hwy/highway.h"

#include "OutlineRowRules.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

HWY_BEFORE_NAMESPACE();
namespace rimlet {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// One run of a row on this vector unit: lanes of single precision, one
// pixel a lane.
template <OutlineQuality quality, class PIX, int maxValue>
class RowKernel {
  using DF = hn::ScalableTag<float>;
  using VF = hn::Vec<DF>;
  using MF = hn::Mask<DF>;
  using DI = hn::RebindToSigned<DF>;
  using DP = hn::Rebind<PIX, DF>;
  using VP = hn::Vec<DP>;
  static constexpr bool kIsFloat = std::is_floating_point_v<PIX>;
  // Where the selection between whole known pixels is made: the pixel's
  // own type for floats, 32-bit integers for bytes and shorts.
  using DW = std::conditional_t<kIsFloat, DF, DI>;
  using VW = hn::Vec<DW>;

public:
  RowKernel(const RowRules<PIX, maxValue>& rowRules, const RowCells& cells)
      : r_(rowRules), cells_(cells) {}

  void run(const PIX* src, PIX* dst, std::int64_t first, std::int64_t last) const {
    const std::int64_t lanes = static_cast<std::int64_t>(hn::Lanes(df_));
    // Best's block mean reads one cell on; the cells at and past lastBlock
    // read their own cell, and are left to the plain rules.
    std::int64_t vectorEnd = last;
    if (quality == OutlineQuality::Best && cells_.above != nullptr)
      vectorEnd = std::max(first, std::min(last, cells_.lastBlock));
    std::int64_t i = first;
    const PIX* s = src;
    for (; i + lanes <= vectorEnd; i += lanes) {
      if (src != nullptr)
        renderLanes<true>(s, dst + i * 4, i);
      else
        renderLanes<false>(nullptr, dst + i * 4, i);
      if (s != nullptr)
        s += lanes * 4;
    }
    for (; i < last; ++i) {
      r_.rules.template renderPixel<quality>(s, dst + i * 4, cells_.at<quality>(i), r_.w);
      if (s != nullptr)
        s += 4;
    }
  }

private:
  VF fieldAt(std::int64_t i) const {
    const VF here = hn::LoadU(df_, cells_.row + i);
    if constexpr (quality != OutlineQuality::Best) {
      return here;
    } else {
      if (cells_.above == nullptr)
        return here;
      const VF sum = hn::Add(hn::Add(hn::Add(here, hn::LoadU(df_, cells_.row + i + 1)),
                                     hn::LoadU(df_, cells_.above + i)),
                             hn::LoadU(df_, cells_.above + i + 1));
      return hn::Mul(sum, hn::Set(df_, 0.25f));
    }
  }

  VF toFloat(VP v) const {
    if constexpr (kIsFloat)
      return v;
    else
      return hn::ConvertTo(df_, hn::PromoteTo(di_, v));
  }

  VW toWide(VP v) const {
    if constexpr (kIsFloat)
      return v;
    else
      return hn::PromoteTo(di_, v);
  }

  VP fromWide(VW v) const {
    if constexpr (kIsFloat)
      return v;
    else
      return hn::DemoteTo(dp_, v);
  }

  hn::Mask<DW> toWideMask(MF m) const { return hn::RebindMask(dw_, m); }

  // Which of the known pixels each lane takes; the lanes in none of them
  // are left to the plain rules.
  struct Choice {
    MF clear;
    MF copy;
    MF full;
    MF ring;
  };

  Choice choose(VF f, MF covered, VF alpha) const {
    const VF w = hn::Set(df_, r_.w);
    const MF inWindow = hn::And(hn::Ge(f, hn::Set(df_, rule::kWindowDepth)),
                                hn::Le(f, hn::Set(df_, r_.w + rule::kWindowBeyondWidth)));
    const MF none = hn::FirstN(df_, 0);
    const MF opaque = hn::Eq(alpha, hn::Set(df_, static_cast<float>(maxValue)));
    Choice c{none, none, none, none};
    if constexpr (quality == OutlineQuality::Draft) {
      const MF inside = hn::Le(f, w);
      c.clear = hn::Not(inside);
      c.full = hn::AndNot(covered, hn::AndNot(hn::Gt(f, hn::Set(df_, r_.w - rule::kEdgeWidth)),
                                              inside));
      // An opaque integer pixel blended over the outline with weight one
      // is the source again: the outline is multiplied by zero.
      if constexpr (!kIsFloat)
        c.copy = hn::And(covered, hn::And(opaque, inside));
    } else if constexpr (quality == OutlineQuality::Good) {
      // Coverage nil: beyond the window, or past both 0 and w.
      const MF nil = hn::Or(hn::Not(inWindow),
                            hn::And(hn::Gt(f, hn::Zero(df_)), hn::Ge(f, w)));
      const MF solid = hn::And(
          inWindow,
          hn::Or(hn::Le(f, hn::Zero(df_)),
                 hn::AndNot(hn::Ge(f, w), hn::Lt(f, hn::Set(df_, r_.w - rule::kEdgeWidth)))));
      c.clear = hn::AndNot(covered, nil);
      c.full = hn::AndNot(covered, solid);
      c.copy = hn::And(covered, hn::Or(nil, hn::Gt(alpha, hn::Set(df_, r_.opaqueAbove))));
    } else {
      const MF beyond = hn::Gt(f, w);
      const MF ringReach = hn::Le(f, hn::Set(df_, rule::kFaintRingReach));
      const MF solid = hn::Or(hn::Le(f, hn::Set(df_, rule::kBestSolidDepth)),
                              hn::Lt(f, hn::Set(df_, r_.w - rule::kBestSolidBeforeWidth)));
      c.ring = hn::AndNot(covered, hn::And(beyond, ringReach));
      c.clear = hn::AndNot(covered, hn::Or(hn::AndNot(ringReach, beyond),
                                           hn::AndNot(beyond, hn::Not(inWindow))));
      c.full = hn::AndNot(covered, hn::AndNot(beyond, hn::And(inWindow, solid)));
      c.copy = hn::Not(inWindow);
      // As Draft, for an opaque integer pixel inside its shape.
      if constexpr (!kIsFloat)
        c.copy = hn::Or(c.copy, hn::And(opaque, hn::Lt(f, hn::Zero(df_))));
      c.copy = hn::And(covered, c.copy);
    }
    return c;
  }

  VW known(const Choice& c, VW source, int component) const {
    const auto constant = [&](PIX value) {
      if constexpr (kIsFloat)
        return hn::Set(dw_, value);
      else
        return hn::Set(dw_, static_cast<std::int32_t>(value));
    };
    VW v = hn::IfThenElseZero(toWideMask(c.full), constant(r_.fullOutline[component]));
    if constexpr (quality == OutlineQuality::Best)
      v = hn::IfThenElse(toWideMask(c.ring), constant(r_.faintRing[component]), v);
    return hn::IfThenElse(toWideMask(c.copy), source, v);
  }

  template <bool kWithSource>
  void renderLanes(const PIX* src, PIX* dst, std::int64_t i) const {
    const std::size_t lanes = hn::Lanes(df_);
    const VF f = fieldAt(i);
    VP s0 = hn::Zero(dp_), s1 = s0, s2 = s0, s3 = s0;
    VF alpha = hn::Zero(df_);
    MF covered = hn::FirstN(df_, 0);
    if constexpr (kWithSource) {
      hn::LoadInterleaved4(dp_, src, s0, s1, s2, s3);
      alpha = toFloat(s3);
      covered = hn::Gt(alpha, hn::Zero(df_));
    }
    const Choice c = choose(f, covered, alpha);
    if (hn::AllTrue(df_, c.clear)) {
      std::memset(dst, 0, lanes * 4 * sizeof(PIX));
      return;
    }
    if (kWithSource && hn::AllTrue(df_, c.copy)) {
      std::memcpy(dst, src, lanes * 4 * sizeof(PIX));
      return;
    }
    hn::StoreInterleaved4(fromWide(known(c, toWide(s0), 0)), fromWide(known(c, toWide(s1), 1)),
                          fromWide(known(c, toWide(s2), 2)), fromWide(known(c, toWide(s3), 3)),
                          dp_, dst);
    const MF decided = hn::Or(hn::Or(c.clear, c.copy), hn::Or(c.full, c.ring));
    if (hn::AllTrue(df_, decided))
      return;
    // The rest are edges and blends: the plain rules, lane by lane.
    alignas(64) float fs[hn::MaxLanes(DF())];
    hn::Store(f, df_, fs);
    std::uint8_t bits[(hn::MaxLanes(DF()) + 7) / 8] = {};
    hn::StoreMaskBits(df_, hn::Not(decided), bits);
    for (std::size_t lane = 0; lane < lanes; ++lane) {
      if ((bits[lane / 8] >> (lane % 8) & 1) == 0)
        continue;
      r_.rules.template renderPixel<quality>(kWithSource ? src + lane * 4 : nullptr,
                                             dst + lane * 4, fs[lane], r_.w);
    }
  }

  const RowRules<PIX, maxValue>& r_;
  const RowCells& cells_;
  DF df_;
  DI di_;
  DP dp_;
  DW dw_;
};

template <OutlineQuality quality, class PIX, int maxValue>
void renderRowOn(const RowRules<PIX, maxValue>& rowRules, const RowCells& cells, const PIX* src,
                 PIX* dst, std::int64_t first, std::int64_t last) {
  RowKernel<quality, PIX, maxValue>(rowRules, cells).run(src, dst, first, last);
}

// The entry points the dispatcher picks from: one per format and quality.
#define RIMLET_ROW_ENTRY(NAME, QUALITY, PIXEL, MAXVALUE)                                      \
  void NAME(const RowRules<PIXEL, MAXVALUE>& rowRules, const RowCells& cells,              \
            const PIXEL* src, PIXEL* dst, std::int64_t first, std::int64_t last) {        \
    renderRowOn<OutlineQuality::QUALITY>(rowRules, cells, src, dst, first, last);          \
  }
RIMLET_ROW_ENTRY(DraftByteRow, Draft, unsigned char, 255)
RIMLET_ROW_ENTRY(GoodByteRow, Good, unsigned char, 255)
RIMLET_ROW_ENTRY(BestByteRow, Best, unsigned char, 255)
RIMLET_ROW_ENTRY(DraftShortRow, Draft, unsigned short, 65535)
RIMLET_ROW_ENTRY(GoodShortRow, Good, unsigned short, 65535)
RIMLET_ROW_ENTRY(BestShortRow, Best, unsigned short, 65535)
RIMLET_ROW_ENTRY(DraftFloatRow, Draft, float, 1)
RIMLET_ROW_ENTRY(GoodFloatRow, Good, float, 1)
RIMLET_ROW_ENTRY(BestFloatRow, Best, float, 1)
#undef RIMLET_ROW_ENTRY

} // namespace HWY_NAMESPACE
} // namespace rimlet
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace rimlet {

namespace {

// The largest alpha, as a float, that the opacity rule does not count as
// opaque enough; found from the rule itself, which grows with the alpha.
template <class PIX, int maxValue>
float largestNotOpaqueEnough(const AlphaTable& alphaTable) {
  using Component = OutlineComponent<PIX, maxValue>;
  const auto opaqueEnough = [&](PIX alpha) {
    return Component::opacity(alpha, alphaTable) > rule::kOpaqueEnough;
  };
  if constexpr (std::is_floating_point_v<PIX>) {
    float t = static_cast<float>(rule::kOpaqueEnough);
    while (opaqueEnough(t))
      t = std::nextafter(t, -HUGE_VALF);
    while (!opaqueEnough(std::nextafter(t, HUGE_VALF)))
      t = std::nextafter(t, HUGE_VALF);
    return t;
  } else {
    // Invariant: lo is not opaque enough, hi is.
    int lo = 0, hi = maxValue;
    while (hi - lo > 1) {
      const int mid = lo + (hi - lo) / 2;
      (opaqueEnough(static_cast<PIX>(mid)) ? hi : lo) = mid;
    }
    return static_cast<float>(lo);
  }
}

template <class PIX, int maxValue>
using RowFn = void(const RowRules<PIX, maxValue>&, const RowCells&, const PIX*, PIX*,
                   std::int64_t, std::int64_t);
using ByteRowFn = RowFn<unsigned char, 255>;
using ShortRowFn = RowFn<unsigned short, 65535>;
using FloatRowFn = RowFn<float, 1>;

const auto kDraftByteRows = QFX_SIMD_TABLE(ByteRowFn, DraftByteRow);
const auto kGoodByteRows = QFX_SIMD_TABLE(ByteRowFn, GoodByteRow);
const auto kBestByteRows = QFX_SIMD_TABLE(ByteRowFn, BestByteRow);
const auto kDraftShortRows = QFX_SIMD_TABLE(ShortRowFn, DraftShortRow);
const auto kGoodShortRows = QFX_SIMD_TABLE(ShortRowFn, GoodShortRow);
const auto kBestShortRows = QFX_SIMD_TABLE(ShortRowFn, BestShortRow);
const auto kDraftFloatRows = QFX_SIMD_TABLE(FloatRowFn, DraftFloatRow);
const auto kGoodFloatRows = QFX_SIMD_TABLE(FloatRowFn, GoodFloatRow);
const auto kBestFloatRows = QFX_SIMD_TABLE(FloatRowFn, BestFloatRow);

} // namespace

template <class PIX, int maxValue>
RowRules<PIX, maxValue>::RowRules(const Rules& pixelRules, const AlphaTable& alphaTable,
                                  const FalloffTable& falloffTable, OutlineColor outlineColor,
                                  float width)
    : rules(pixelRules),
      falloff(falloffTable),
      color(outlineColor),
      w(width),
      opaqueAbove(largestNotOpaqueEnough<PIX, maxValue>(alphaTable)) {
  rules.writeOutline(fullOutline, 1.0);
  rules.writeOutline(faintRing, rule::kFaintRingCoverage);
}

#define RIMLET_ROW_DISPATCH(PIXEL, MAXVALUE, FORMAT)                                           \
  template <>                                                                              \
  void renderRow<OutlineQuality::Draft, PIXEL, MAXVALUE>(                                  \
      const RowRules<PIXEL, MAXVALUE>& rowRules, const RowCells& cells, const PIXEL* src,  \
      PIXEL* dst, std::int64_t first, std::int64_t last) {                                 \
    kDraft##FORMAT##Rows.active()(rowRules, cells, src, dst, first, last);      \
  }                                                                                        \
  template <>                                                                              \
  void renderRow<OutlineQuality::Good, PIXEL, MAXVALUE>(                                   \
      const RowRules<PIXEL, MAXVALUE>& rowRules, const RowCells& cells, const PIXEL* src,  \
      PIXEL* dst, std::int64_t first, std::int64_t last) {                                 \
    kGood##FORMAT##Rows.active()(rowRules, cells, src, dst, first, last);       \
  }                                                                                        \
  template <>                                                                              \
  void renderRow<OutlineQuality::Best, PIXEL, MAXVALUE>(                                   \
      const RowRules<PIXEL, MAXVALUE>& rowRules, const RowCells& cells, const PIXEL* src,  \
      PIXEL* dst, std::int64_t first, std::int64_t last) {                                 \
    kBest##FORMAT##Rows.active()(rowRules, cells, src, dst, first, last);       \
  }                                                                                        \
  template struct RowRules<PIXEL, MAXVALUE>;
RIMLET_ROW_DISPATCH(unsigned char, 255, Byte)
RIMLET_ROW_DISPATCH(unsigned short, 65535, Short)
RIMLET_ROW_DISPATCH(float, 1, Float)
#undef RIMLET_ROW_DISPATCH

} // namespace rimlet
#endif // HWY_ONCE
