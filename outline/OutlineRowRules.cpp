// Compiled once per vector path (Highway's foreach_target); the path is
// chosen at run time by qfx::simd, as for every vector loop.
//
// Exactness: no fused multiply-add (the source is built with contraction
// off), the rules' operations in the rules' order, every decision one of
// the rules' own comparisons made on the very values they compare, and
// doubles narrowed to floats as a cast narrows them.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "OutlineRowRules.cpp"
#include "SimdTargets.h"
#include "hwy/foreach_target.h" // IWYU pragma: keep
#include "hwy/highway.h"
#include "SimdExact-inl.h"

#include "OutlineRowRules.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

HWY_BEFORE_NAMESPACE();
namespace rimlet {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
using qfx::simd::HWY_NAMESPACE::toNearestFloat;

// One run of a row on this vector path. Pixels go a full vector of
// single-precision lanes at a time while each is one of the known pixels;
// a vector holding any other pixel is redone as many at a time as double
// lanes allow, with the rules' arithmetic.
template <OutlineQuality quality, class PIX, int maxValue> class RowKernel {
  using DF = hn::ScalableTag<float>;
  using DD = hn::ScalableTag<double>;
  // Single precision, one lane per double lane.
  using DH = hn::Rebind<float, DD>;
  using VD = hn::Vec<DD>;
  using MD = hn::Mask<DD>;
  static constexpr bool kIsFloat = std::is_floating_point_v<PIX>;
  static constexpr double kMax = maxValue;
  static constexpr std::size_t kMaxLanes = hn::MaxLanes(DF());

  // Where known pixels are chosen between: the pixel's own type for
  // floats, 32-bit integers for bytes and shorts.
  template <class D>
  using Wide = std::conditional_t<kIsFloat, D, hn::RebindToSigned<D>>;

public:
  RowKernel(const RowRules<PIX, maxValue> &rowRules, const RowCells &cells)
      : r_(rowRules), cells_(cells) {}

  void run(const PIX *src, PIX *dst, std::int64_t first,
           std::int64_t last) const {
    const std::int64_t lanes = static_cast<std::int64_t>(hn::Lanes(DF()));
    // Best's block mean reads one cell on; the cells at and past lastBlock
    // read their own cell, and are left to the plain rules.
    std::int64_t vectorEnd = last;
    if (quality == OutlineQuality::Best && cells_.above != nullptr)
      vectorEnd = std::max(first, std::min(last, cells_.lastBlock));
    std::int64_t i = first;
    const PIX *s = src;
    for (; i + lanes <= vectorEnd; i += lanes) {
      if (src != nullptr) {
        renderLanes<true>(s, dst + i * 4, i);
        s += lanes * 4;
      } else {
        renderLanes<false>(nullptr, dst + i * 4, i);
      }
    }
    for (; i < last; ++i) {
      r_.rules.template renderPixel<quality>(s, dst + i * 4,
                                             cells_.at<quality>(i), r_.w);
      if (s != nullptr)
        s += 4;
    }
  }

private:
  template <class D> hn::Vec<D> fieldAt(D d, std::int64_t i) const {
    const hn::Vec<D> here = hn::LoadU(d, cells_.row + i);
    if constexpr (quality != OutlineQuality::Best) {
      return here;
    } else {
      if (cells_.above == nullptr)
        return here;
      const hn::Vec<D> sum =
          hn::Add(hn::Add(hn::Add(here, hn::LoadU(d, cells_.row + i + 1)),
                          hn::LoadU(d, cells_.above + i)),
                  hn::LoadU(d, cells_.above + i + 1));
      return hn::Mul(sum, hn::Set(d, 0.25f));
    }
  }

  // A component as a float; exact for bytes and shorts.
  template <class D>
  hn::Vec<D> toFloat(D d, hn::Vec<hn::Rebind<PIX, D>> v) const {
    if constexpr (kIsFloat)
      return v;
    else
      return hn::ConvertTo(d, hn::PromoteTo(hn::RebindToSigned<D>(), v));
  }

  template <class D>
  hn::Vec<Wide<D>> toWide(D, hn::Vec<hn::Rebind<PIX, D>> v) const {
    if constexpr (kIsFloat)
      return v;
    else
      return hn::PromoteTo(Wide<D>(), v);
  }

  template <class D>
  hn::Vec<hn::Rebind<PIX, D>> fromWide(D, hn::Vec<Wide<D>> v) const {
    if constexpr (kIsFloat)
      return v;
    else
      return hn::DemoteTo(hn::Rebind<PIX, D>(), v);
  }

  // Which of the known pixels each lane takes; a lane in none of them is
  // the rules' to compute.
  template <class D> struct Choice {
    hn::Mask<D> clear, copy, full, ring;
    hn::Mask<D> decided() const {
      return hn::Or(hn::Or(clear, copy), hn::Or(full, ring));
    }
  };

  template <class D>
  Choice<D> choose(D d, hn::Vec<D> f, hn::Mask<D> covered,
                   hn::Vec<D> alpha) const {
    using V = hn::Vec<D>;
    using M = hn::Mask<D>;
    const V w = hn::Set(d, r_.w);
    const M inWindow =
        hn::And(hn::Ge(f, hn::Set(d, rule::kWindowDepth)),
                hn::Le(f, hn::Set(d, r_.w + rule::kWindowBeyondWidth)));
    const M none = hn::FirstN(d, 0);
    const M opaque = hn::Eq(alpha, hn::Set(d, static_cast<float>(maxValue)));
    Choice<D> c{none, none, none, none};
    if constexpr (quality == OutlineQuality::Draft) {
      const M inside = hn::Le(f, w);
      c.clear = hn::Not(inside);
      c.full = hn::AndNot(
          covered,
          hn::AndNot(hn::Gt(f, hn::Set(d, r_.w - rule::kEdgeWidth)), inside));
      // An opaque integer pixel blended over the outline with weight one
      // is the source again: the outline is multiplied by zero.
      if constexpr (!kIsFloat)
        c.copy = hn::And(covered, hn::And(opaque, inside));
    } else if constexpr (quality == OutlineQuality::Good) {
      // Coverage nil: beyond the window, or past both 0 and w.
      const M nil = hn::Or(hn::Not(inWindow),
                           hn::And(hn::Gt(f, hn::Zero(d)), hn::Ge(f, w)));
      const M solid = hn::And(
          inWindow,
          hn::Or(hn::Le(f, hn::Zero(d)),
                 hn::AndNot(hn::Ge(f, w),
                            hn::Lt(f, hn::Set(d, r_.w - rule::kEdgeWidth)))));
      c.clear = hn::AndNot(covered, nil);
      c.full = hn::AndNot(covered, solid);
      c.copy = hn::And(covered,
                       hn::Or(nil, hn::Gt(alpha, hn::Set(d, r_.opaqueAbove))));
    } else {
      const M beyond = hn::Gt(f, w);
      const M ringReach = hn::Le(f, hn::Set(d, rule::kFaintRingReach));
      const M solid =
          hn::Or(hn::Le(f, hn::Set(d, rule::kBestSolidDepth)),
                 hn::Lt(f, hn::Set(d, r_.w - rule::kBestSolidBeforeWidth)));
      c.ring = hn::AndNot(covered, hn::And(beyond, ringReach));
      c.clear =
          hn::AndNot(covered, hn::Or(hn::AndNot(ringReach, beyond),
                                     hn::AndNot(beyond, hn::Not(inWindow))));
      c.full =
          hn::AndNot(covered, hn::AndNot(beyond, hn::And(inWindow, solid)));
      c.copy = hn::Not(inWindow);
      // As Draft, for an opaque integer pixel inside its shape.
      if constexpr (!kIsFloat)
        c.copy = hn::Or(c.copy, hn::And(opaque, hn::Lt(f, hn::Zero(d))));
      c.copy = hn::And(covered, c.copy);
    }
    return c;
  }

  template <class D>
  hn::Vec<Wide<D>> known(D, const Choice<D> &c, hn::Vec<Wide<D>> source,
                         int component) const {
    const Wide<D> dw;
    const auto constant = [&](PIX value) {
      if constexpr (kIsFloat)
        return hn::Set(dw, value);
      else
        return hn::Set(dw, static_cast<std::int32_t>(value));
    };
    hn::Vec<Wide<D>> v = hn::IfThenElseZero(
        hn::RebindMask(dw, c.full), constant(r_.fullOutline[component]));
    if constexpr (quality == OutlineQuality::Best)
      v = hn::IfThenElse(hn::RebindMask(dw, c.ring),
                         constant(r_.faintRing[component]), v);
    return hn::IfThenElse(hn::RebindMask(dw, c.copy), source, v);
  }

  // The alphas of a vector's pixels, as floats.
  hn::Vec<DF> alphaOf(const PIX *src) const {
    const DF df;
    if constexpr (std::is_same_v<PIX, unsigned char>) {
      // A pixel is one 32-bit lane, its alpha the top byte (x86 is
      // little-endian).
      const hn::Rebind<std::uint32_t, DF> du;
      const auto pixels =
          hn::LoadU(du, reinterpret_cast<const std::uint32_t *>(src));
      return hn::ConvertTo(df, hn::BitCast(hn::RebindToSigned<DF>(),
                                           hn::ShiftRight<24>(pixels)));
    } else {
      const hn::Rebind<PIX, DF> dp;
      hn::Vec<hn::Rebind<PIX, DF>> s0, s1, s2, s3;
      hn::LoadInterleaved4(dp, src, s0, s1, s2, s3);
      return toFloat(df, s3);
    }
  }

  template <bool kWithSource>
  void renderLanes(const PIX *src, PIX *dst, std::int64_t i) const {
    const DF df;
    const std::size_t lanes = hn::Lanes(df);
    const hn::Vec<DF> f = fieldAt(df, i);
    hn::Vec<DF> alpha = hn::Zero(df);
    hn::Mask<DF> covered = hn::FirstN(df, 0);
    if constexpr (kWithSource) {
      alpha = alphaOf(src);
      covered = hn::Gt(alpha, hn::Zero(df));
    }
    const Choice<DF> c = choose(df, f, covered, alpha);
    if (hn::AllTrue(df, c.clear)) {
      std::memset(dst, 0, lanes * 4 * sizeof(PIX));
      return;
    }
    if (kWithSource && hn::AllTrue(df, c.copy)) {
      std::memcpy(dst, src, lanes * 4 * sizeof(PIX));
      return;
    }
    if constexpr (std::is_same_v<PIX, unsigned char>)
      storeKnownBytePixels(c, src, dst);
    else
      storeKnownPixels(c, src, dst);
    const hn::Mask<DF> left = hn::Not(c.decided());
    if (hn::AllFalse(df, left))
      return;
    // Only the double-lane groups holding a pixel left to the rules are
    // redone.
    std::uint8_t bits[(kMaxLanes + 7) / 8] = {};
    hn::StoreMaskBits(df, left, bits);
    const std::size_t step = hn::Lanes(DD());
    for (std::size_t k = 0; k < lanes; k += step) {
      bool any = false;
      for (std::size_t lane = k; lane < k + step; ++lane)
        any = any || ((bits[lane / 8] >> (lane % 8)) & 1) != 0;
      if (any)
        renderEdgeLanes<kWithSource>(kWithSource ? src + k * 4 : nullptr,
                                     dst + k * 4,
                                     i + static_cast<std::int64_t>(k));
    }
  }

  // A byte pixel is one 32-bit lane: the known pixels are chosen in place.
  void storeKnownBytePixels(const Choice<DF> &c, const PIX *src,
                            PIX *dst) const {
    const hn::Rebind<std::uint32_t, DF> du;
    const auto packed = [&](const PIX *pixel) {
      std::uint32_t value;
      std::memcpy(&value, pixel, sizeof value);
      return hn::Set(du, value);
    };
    auto out =
        hn::IfThenElseZero(hn::RebindMask(du, c.full), packed(r_.fullOutline));
    if constexpr (quality == OutlineQuality::Best)
      out =
          hn::IfThenElse(hn::RebindMask(du, c.ring), packed(r_.faintRing), out);
    if (src != nullptr)
      out = hn::IfThenElse(
          hn::RebindMask(du, c.copy),
          hn::LoadU(du, reinterpret_cast<const std::uint32_t *>(src)), out);
    hn::StoreU(out, du, reinterpret_cast<std::uint32_t *>(dst));
  }

  void storeKnownPixels(const Choice<DF> &c, const PIX *src, PIX *dst) const {
    const DF df;
    const hn::RebindToSigned<DF> di;
    // Each lane's known pixel, whole: nothing, the outline, the faint ring
    // or the source.
    constexpr std::int32_t kSource = 3;
    auto pick = hn::IfThenElseZero(hn::RebindMask(di, c.full), hn::Set(di, 1));
    if constexpr (quality == OutlineQuality::Best)
      pick = hn::IfThenElse(hn::RebindMask(di, c.ring), hn::Set(di, 2), pick);
    pick =
        hn::IfThenElse(hn::RebindMask(di, c.copy), hn::Set(di, kSource), pick);
    alignas(64) std::int32_t picks[kMaxLanes];
    hn::Store(pick, di, picks);
    static constexpr PIX kNothing[4] = {};
    const PIX *const pixels[3] = {kNothing, r_.fullOutline, r_.faintRing};
    for (std::size_t lane = 0; lane < hn::Lanes(df); ++lane) {
      const PIX *from =
          picks[lane] == kSource ? src + lane * 4 : pixels[picks[lane]];
      std::memcpy(dst + lane * 4, from, 4 * sizeof(PIX));
    }
  }

  // --- The rules' arithmetic, one pixel per double lane ---

  // Integer stores clamp to [0, M], a NaN to 0, before truncating.
  VD clampToRange(VD v) const {
    const DD dd;
    v = hn::IfThenElse(hn::Gt(v, hn::Zero(dd)), v, hn::Zero(dd));
    return hn::IfThenElse(hn::Gt(v, hn::Set(dd, kMax)), hn::Set(dd, kMax), v);
  }

  // A float as store() keeps it: the nearest float, a NaN as the one NaN.
  hn::Vec<DH> storedFloat(VD v) const {
    const DH dh;
    const hn::Vec<DH> narrow = toNearestFloat(dh, v);
    return hn::IfThenElse(hn::Eq(narrow, narrow), narrow,
                          hn::Set(dh, std::numeric_limits<float>::quiet_NaN()));
  }

  // What reading a stored component back gives: the value store() keeps.
  VD stored(VD v) const {
    if constexpr (kIsFloat)
      return hn::PromoteTo(DD(), storedFloat(v));
    else
      return hn::Trunc(clampToRange(v));
  }

  // store() and storeClamped() into the selection lanes.
  hn::Vec<Wide<DH>> storeWide(VD v) const {
    if constexpr (kIsFloat)
      return storedFloat(v);
    else
      return hn::DemoteTo(Wide<DH>(), clampToRange(v));
  }

  // A value stored() already gave: in range, whole for integers.
  hn::Vec<Wide<DH>> storedToWide(VD v) const {
    if constexpr (kIsFloat)
      return toNearestFloat(DH(), v); // exact: v holds a float
    else
      return hn::DemoteTo(Wide<DH>(), v);
  }

  hn::Vec<Wide<DH>> storeClampedWide(VD v) const {
    if constexpr (kIsFloat) {
      const DD dd;
      v = hn::IfThenElse(hn::Lt(v, hn::Zero(dd)), hn::Zero(dd), v);
      v = hn::IfThenElse(hn::Gt(v, hn::Set(dd, kMax)), hn::Set(dd, kMax), v);
    }
    return storeWide(v);
  }

  VD promoted(float value) const {
    return hn::Set(DD(), static_cast<double>(value));
  }

  // A mask of double lanes as the same lanes in single precision.
  static hn::Mask<DH> toHalf(MD m) {
    return hn::Gt(hn::DemoteTo(DH(), hn::IfThenElseZero(m, hn::Set(DD(), 1.0))),
                  hn::Zero(DH()));
  }

  // The coverage the rules give the lanes left to them.
  VD coverage(hn::Vec<DH> f) const {
    const DD dd;
    const DH dh;
    const VD one = hn::Set(dd, 1.0);
    const VD fd = hn::PromoteTo(dd, f);
    const float edgeStart = r_.w - rule::kEdgeWidth;
    if constexpr (quality == OutlineQuality::Draft) {
      const VD edge = hn::PromoteTo(dd, hn::Sub(hn::Set(dh, r_.w), f));
      return hn::IfThenElse(hn::Gt(fd, promoted(edgeStart)), edge, one);
    } else if constexpr (quality == OutlineQuality::Good) {
      const VD edge =
          hn::Sub(one, hn::PromoteTo(dd, hn::Sub(f, hn::Set(dh, edgeStart))));
      VD c = hn::IfThenElse(hn::Lt(fd, promoted(edgeStart)), one, edge);
      c = hn::IfThenElse(hn::Ge(fd, promoted(r_.w)), hn::Zero(dd), c);
      return hn::IfThenElse(hn::Le(fd, hn::Zero(dd)), one, c);
    } else {
      const hn::Vec<DH> tenths = hn::Mul(hn::Sub(f, hn::Set(dh, edgeStart)),
                                         hn::Set(dh, rule::kFalloffSteps));
      const VD tenthsD = hn::PromoteTo(dd, tenths);
      const MD inTable = hn::And(
          hn::Gt(tenthsD, hn::Set(dd, -1.0)),
          hn::Lt(tenthsD, hn::Set(dd, static_cast<double>(r_.falloff.size()))));
      // Lanes off the table look up entry 0 and do not use it.
      const hn::RebindToSigned<DH> di;
      const auto index =
          hn::ConvertTo(di, hn::IfThenElseZero(toHalf(inTable), tenths));
      const VD table =
          hn::PromoteTo(dd, hn::GatherIndex(dh, r_.falloff.data(), index));
      const VD beyond = hn::Sub(promoted(r_.w), fd);
      VD c = hn::IfThenElse(inTable, table, hn::Mul(beyond, beyond));
      const MD solid =
          hn::Or(hn::Le(fd, promoted(rule::kBestSolidDepth)),
                 hn::Lt(fd, promoted(r_.w - rule::kBestSolidBeforeWidth)));
      return hn::IfThenElse(solid, one, c);
    }
  }

  template <bool kWithSource>
  void renderEdgeLanes(const PIX *src, PIX *dst, std::int64_t i) const {
    const DH dh;
    const hn::Rebind<PIX, DH> dp;
    const Wide<DH> dw;
    const hn::Vec<DH> f = fieldAt(dh, i);
    auto s0 = hn::Zero(dp), s1 = s0, s2 = s0, s3 = s0;
    hn::Vec<DH> alpha = hn::Zero(dh);
    hn::Mask<DH> covered = hn::FirstN(dh, 0);
    if constexpr (kWithSource) {
      hn::LoadInterleaved4(dp, src, s0, s1, s2, s3);
      alpha = toFloat(dh, s3);
      covered = hn::Gt(alpha, hn::Zero(dh));
    }
    const Choice<DH> c = choose(dh, f, covered, alpha);
    const hn::Vec<Wide<DH>> sourceWide[4] = {toWide(dh, s0), toWide(dh, s1),
                                             toWide(dh, s2), toWide(dh, s3)};
    hn::Vec<Wide<DH>> out[4];
    for (int k = 0; k < 4; ++k)
      out[k] = known(dh, c, sourceWide[k], k);
    const hn::Mask<DH> left = hn::Not(c.decided());
    if (!hn::AllFalse(dh, left)) {
      const VPH source[4] = {s0, s1, s2, s3};
      hn::Vec<Wide<DH>> computed[4];
      computeLanes<kWithSource>(f, covered, left, source, sourceWide, computed);
      for (int k = 0; k < 4; ++k)
        out[k] = hn::IfThenElse(hn::RebindMask(dw, left), computed[k], out[k]);
    }
    hn::StoreInterleaved4(fromWide(dh, out[0]), fromWide(dh, out[1]),
                          fromWide(dh, out[2]), fromWide(dh, out[3]), dp, dst);
  }

  using VPH = hn::Vec<hn::Rebind<PIX, DH>>;

  // The outline at the rules' coverage, and for covered lanes the source
  // laid over it, as the rules' blends do it.
  template <bool kWithSource>
  void computeLanes(hn::Vec<DH> f, hn::Mask<DH> coveredH, hn::Mask<DH> left,
                    const VPH *source, const hn::Vec<Wide<DH>> *sourceWide,
                    hn::Vec<Wide<DH>> *out) const {
    const DD dd;
    const DH dh;
    const Wide<DH> dw;
    const VD cov = coverage(f);
    const VD maxD = hn::Set(dd, kMax);
    const double colour[3] = {r_.color.red, r_.color.green, r_.color.blue};
    VD outline[4];
    for (int k = 0; k < 3; ++k)
      outline[k] = stored(hn::Mul(hn::Mul(hn::Set(dd, colour[k]), cov), maxD));
    outline[3] = stored(hn::Mul(cov, maxD));
    for (int k = 0; k < 4; ++k)
      out[k] = storedToWide(outline[k]);
    const auto covered = hn::RebindMask(dw, coveredH);
    if constexpr (kWithSource) {
      if (!hn::AllFalse(dh, hn::And(coveredH, left)))
        blendLanes(f, covered, source, sourceWide, outline, out);
    }
    if constexpr (quality == OutlineQuality::Good) {
      // No visible coverage: the source as it is, or nothing.
      const auto hidden = hn::RebindMask(
          dw, toHalf(hn::Not(hn::Gt(cov, hn::Set(dd, rule::kVisibleAlpha)))));
      for (int k = 0; k < 4; ++k)
        out[k] = hn::IfThenElse(
            hidden, hn::IfThenElseZero(covered, sourceWide[k]), out[k]);
    }
  }

  // The source laid over the outline in the covered lanes.
  void blendLanes(hn::Vec<DH> f, hn::Mask<Wide<DH>> covered, const VPH *source,
                  const hn::Vec<Wide<DH>> *sourceWide, VD *outline,
                  hn::Vec<Wide<DH>> *out) const {
    const DD dd;
    const DH dh;
    const Wide<DH> dw;
    const VD maxD = hn::Set(dd, kMax);

    VD s[4];
    for (int k = 0; k < 4; ++k)
      s[k] = hn::PromoteTo(dd, toFloat(dh, source[k]));
    const VD one = hn::Set(dd, 1.0);
    MD replaced = hn::FirstN(dd, 0); // by the source as it is
    VD as, ao, scale;
    if constexpr (quality == OutlineQuality::Best) {
      const VD weight =
          hn::IfThenElse(hn::Lt(hn::PromoteTo(dd, f), hn::Zero(dd)), one,
                         hn::Set(dd, rule::kEdgeSourceWeight));
      as = hn::Mul(hn::Div(s[3], maxD), weight);
      const VD ad = hn::Div(outline[3], maxD);
      ao = hn::Add(as, hn::Mul(ad, hn::Sub(one, as)));
      // Best scales the outline by its alpha, and multiplies by the
      // inverse rather than dividing.
      scale = hn::Div(one, ao);
      for (int k = 0; k < 3; ++k)
        outline[k] = hn::Mul(outline[k], ad);
    } else {
      // A transparent outline is simply replaced by the source.
      replaced = hn::Eq(outline[3], hn::Zero(dd));
      as = hn::Div(s[3], maxD);
      ao = hn::Add(as, hn::Mul(hn::Div(outline[3], maxD), hn::Sub(one, as)));
      scale = ao;
    }
    const VD outlineWeight = hn::Sub(one, as);
    const auto replacedW =
        hn::And(covered, hn::RebindMask(dw, toHalf(replaced)));
    const auto blended = hn::AndNot(
        replacedW,
        hn::And(covered,
                hn::RebindMask(
                    dw, toHalf(hn::Gt(ao, hn::Set(dd, rule::kVisibleAlpha))))));
    for (int k = 0; k < 4; ++k) {
      hn::Vec<Wide<DH>> value;
      if (k < 3) {
        const VD mixed =
            hn::Add(hn::Mul(s[k], as), hn::Mul(outline[k], outlineWeight));
        if constexpr (quality == OutlineQuality::Best)
          value = storeClampedWide(hn::Mul(mixed, scale));
        else
          value = storeWide(hn::Div(mixed, scale));
      } else {
        if constexpr (quality == OutlineQuality::Best)
          value = storeClampedWide(hn::Mul(ao, maxD));
        else
          value = storeWide(hn::Mul(ao, maxD));
      }
      out[k] = hn::IfThenElse(blended, value,
                              hn::IfThenElse(replacedW, sourceWide[k], out[k]));
    }
  }

  const RowRules<PIX, maxValue> &r_;
  const RowCells &cells_;
};

template <OutlineQuality quality, class PIX, int maxValue>
void renderRowOn(const RowRules<PIX, maxValue> &rowRules, const RowCells &cells,
                 const PIX *src, PIX *dst, std::int64_t first,
                 std::int64_t last) {
  RowKernel<quality, PIX, maxValue>(rowRules, cells).run(src, dst, first, last);
}

// The entry points the dispatcher picks from: one per format and quality.
#define RIMLET_ROW_ENTRY(NAME, QUALITY, PIXEL, MAXVALUE)                       \
  void NAME(const RowRules<PIXEL, MAXVALUE> &rowRules, const RowCells &cells,  \
            const PIXEL *src, PIXEL *dst, std::int64_t first,                  \
            std::int64_t last) {                                               \
    renderRowOn<OutlineQuality::QUALITY>(rowRules, cells, src, dst, first,     \
                                         last);                                \
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
float largestNotOpaqueEnough(const AlphaTable &alphaTable) {
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
using RowFn = void(const RowRules<PIX, maxValue> &, const RowCells &,
                   const PIX *, PIX *, std::int64_t, std::int64_t);
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

template <class PIX, int maxValue>
qfx::simd::Path pathOf(const RowRules<PIX, maxValue> &rowRules) {
  return static_cast<qfx::simd::Path>(rowRules.vectorPath);
}

} // namespace

template <class PIX, int maxValue>
RowRules<PIX, maxValue>::RowRules(const Rules &pixelRules,
                                  const AlphaTable &alphaTable,
                                  const FalloffTable &falloffTable,
                                  OutlineColor outlineColor, float width)
    : rules(pixelRules), falloff(falloffTable), color(outlineColor), w(width),
      opaqueAbove(largestNotOpaqueEnough<PIX, maxValue>(alphaTable)),
      vectorPath(static_cast<int>(qfx::simd::activePath())) {
  rules.writeOutline(fullOutline, 1.0);
  rules.writeOutline(faintRing, rule::kFaintRingCoverage);
}

#define RIMLET_ROW_DISPATCH(PIXEL, MAXVALUE, FORMAT)                           \
  template <>                                                                  \
  void renderRow<OutlineQuality::Draft, PIXEL, MAXVALUE>(                      \
      const RowRules<PIXEL, MAXVALUE> &rowRules, const RowCells &cells,        \
      const PIXEL *src, PIXEL *dst, std::int64_t first, std::int64_t last) {   \
    kDraft##FORMAT##Rows.at(pathOf(rowRules))(rowRules, cells, src, dst,       \
                                              first, last);                    \
  }                                                                            \
  template <>                                                                  \
  void renderRow<OutlineQuality::Good, PIXEL, MAXVALUE>(                       \
      const RowRules<PIXEL, MAXVALUE> &rowRules, const RowCells &cells,        \
      const PIXEL *src, PIXEL *dst, std::int64_t first, std::int64_t last) {   \
    kGood##FORMAT##Rows.at(pathOf(rowRules))(rowRules, cells, src, dst, first, \
                                             last);                            \
  }                                                                            \
  template <>                                                                  \
  void renderRow<OutlineQuality::Best, PIXEL, MAXVALUE>(                       \
      const RowRules<PIXEL, MAXVALUE> &rowRules, const RowCells &cells,        \
      const PIXEL *src, PIXEL *dst, std::int64_t first, std::int64_t last) {   \
    kBest##FORMAT##Rows.at(pathOf(rowRules))(rowRules, cells, src, dst, first, \
                                             last);                            \
  }                                                                            \
  template struct RowRules<PIXEL, MAXVALUE>;
RIMLET_ROW_DISPATCH(unsigned char, 255, Byte)
RIMLET_ROW_DISPATCH(unsigned short, 65535, Short)
RIMLET_ROW_DISPATCH(float, 1, Float)
#undef RIMLET_ROW_DISPATCH

} // namespace rimlet
#endif // HWY_ONCE
