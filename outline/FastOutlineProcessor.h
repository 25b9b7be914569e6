// The outline processor: renders one output image for one render call.
//
// The instance configures it through the setters (destination, source,
// render window, colour, width, quality, destination bounds) and calls
// process(). The distance field is built once, in preProcess, over the part
// of the destination bounds that can change a pixel of the window (all of
// it for a whole-frame render), on the host's threads when it is big; the
// bands that the support library then runs on the host's threads only read
// it and write disjoint rows of the window.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>

#include "ofxsImageEffect.h"
#include "ofxsProcessing.h"

#include "FieldPool.h"
#include "OutlineField.h"
#include "OutlineFieldPipeline.h"
#include "OutlinePixelRules.h"
#include "OutlineRowRules.h"

class FastOutlineProcessorBase : public OFX::ImageProcessor {
public:
  explicit FastOutlineProcessorBase(OFX::ImageEffect &effect);
  ~FastOutlineProcessorBase() override;

  // Not owned; null when the host has no source image for this render.
  void setSrcImg(OFX::Image *image) { srcImg_ = image; }
  void setOutlineColor(double red, double green, double blue);
  void setOutlineWidth(double widthPx) { widthPx_ = widthPx; }
  // 0 Draft, 2 Best, anything else Good.
  void setQuality(int quality) { qualityLevel_ = quality; }
  // The destination image's bounds, over which the field is defined. Bounds
  // whose whole field could not even be indexed throw std::bad_alloc,
  // whatever the window: a render of some windows of a frame must not
  // succeed where the whole frame would fail.
  void setImageBounds(const OfxRectI &bounds);
  // Memory to build the field in, lent for this render alone (see
  // rimlet::FieldPool); without it the processor takes its own.
  void setFieldStorage(rimlet::FieldStorage *storage) {
    fieldStorage_ = storage;
  }

  rimlet::OutlineQuality quality() const;
  static rimlet::OutlineQuality qualityOf(int qualityLevel);

  // How far beyond a render window, in pixels, lie the source pixels that
  // can change a pixel of it, when no source alpha is above 1 (no seed
  // below -2): the field's reach, plus Best's block one column and one row
  // on. Not bounded for a width that is not a number. Float alphas above 1
  // seed deeper and reach further; a source image that holds only this
  // much treats those beyond it as absent.
  static rimlet::FieldReach sourceReach(int qualityLevel, double widthPx);

protected:
  rimlet::FieldExtent fieldExtent() const {
    return {fieldWidth_, fieldHeight_};
  }
  // The field's cells of row y, from column fieldArea_.x1 on.
  const float *fieldRow(int y) const {
    return field_ + fieldExtent().indexOf(0, static_cast<std::int64_t>(y) -
                                                 fieldArea_.y1);
  }

  // The part of a band that may be written: inside the destination bounds
  // the field is defined over and inside the destination image itself, so
  // that every row is addressed from a pixel that exists.
  OfxRectI writableArea(const OfxRectI &band) const;

  // The part of the destination bounds the field must cover so that every
  // pixel written in `area` is what the whole-destination field would give
  // (see rimlet::fieldReach): the cells read, grown by the reach.
  OfxRectI fieldAreaFor(const OfxRectI &area, float lowestSeed) const;

  // Makes room for a field over `area` (inside the bounds). The cells are
  // left unset: every build writes each of them before any is read.
  void allocateField(const OfxRectI &area);

  // Runs the pipeline on up to `cpus` of the host's threads. Should the
  // host fail to run them, the calling thread builds what they left.
  void buildOnHostThreads(rimlet::FieldBuildPipeline &pipeline, unsigned cpus);

  OFX::Image *srcImg_ = nullptr;
  double colorR_ = 1.0;
  double colorG_ = 1.0;
  double colorB_ = 1.0;
  double widthPx_ = 2.0;
  OfxRectI bounds_{0, 0, 0, 0};
  int qualityLevel_ = 1;
  // The field, over fieldArea_ (pixel coordinates, inside bounds_): cell
  // (c, r) stands for pixel (fieldArea_.x1 + c, fieldArea_.y1 + r).
  float *field_ = nullptr;
  rimlet::FieldStorage ownFieldStorage_;
  rimlet::FieldStorage *fieldStorage_ = nullptr;
  OfxRectI fieldArea_{0, 0, 0, 0};
  float settledAbove_ = rimlet::kNothingSettled;
  // 64-bit so that the cell count of any bounds is formed without overflow.
  std::int64_t fieldWidth_ = 0;
  std::int64_t fieldHeight_ = 0;
  rimlet::AlphaTable alphaTable_;
  rimlet::FalloffTable falloffTable_;
};

template <class PIX, int nComponents, int maxValue>
class FastOutlineProcessor : public FastOutlineProcessorBase {
public:
  // Rows are rendered by the RGBA rules; alpha-only rows need no rules.
  using RgbaRules = rimlet::OutlinePixelRules<PIX, 4, maxValue>;
  using RowRules = rimlet::RowRules<PIX, maxValue>;

  explicit FastOutlineProcessor(OFX::ImageEffect &effect)
      : FastOutlineProcessorBase(effect) {}
  ~FastOutlineProcessor() override = default;

  // The one field build of the render, before any band writes a pixel.
  // Alpha-only images need none: their pixels never read it.
  void preProcess() override {
    if constexpr (nComponents != 4)
      return;
    OfxRectI read = writableArea(_renderWindow);
    if (read.x1 >= read.x2 || read.y1 >= read.y2)
      return;
    const rimlet::OutlineQuality level = quality();
    // Best reads each pixel's block reaching one column and one row on.
    // (Compared before adding: bounds may end at the largest int.)
    if (level == rimlet::OutlineQuality::Best) {
      if (read.x2 < bounds_.x2)
        ++read.x2;
      if (read.y2 < bounds_.y2)
        ++read.y2;
    }
    const float deepest = lowestSeed();
    allocateField(fieldAreaFor(read, deepest));
    settledAbove_ =
        rimlet::settledCellValue(level, static_cast<float>(widthPx_), deepest);
    if (level == rimlet::OutlineQuality::Draft)
      buildDraftField();
    else
      buildSmoothField();
  }

  void multiThreadProcessImages(OfxRectI band) override {
    const OfxRectI area = writableArea(band);
    if (area.x1 >= area.x2 || area.y1 >= area.y2)
      return;
    const rimlet::OutlineColor color{colorR_, colorG_, colorB_};
    const RgbaRules rules(color, alphaTable_, falloffTable_);
    const RowRules rowRules(rules, alphaTable_, falloffTable_, color,
                            static_cast<float>(widthPx_));
    switch (quality()) {
    case rimlet::OutlineQuality::Draft:
      processDraftRows(rowRules, area);
      return;
    case rimlet::OutlineQuality::Good:
      processTiles<rimlet::OutlineQuality::Good>(rowRules, area);
      return;
    case rimlet::OutlineQuality::Best:
      processTiles<rimlet::OutlineQuality::Best>(rowRules, area);
      return;
    }
  }

private:
  // Good and Best walk the window in tiles of this many pixels square, so
  // that the source, destination and field rows of a tile stay in cache.
  static constexpr int kTileSize = 256;

  // One row of the source image: pixel x is first + (x - x1) components
  // on, for x1 <= x < x2. Rows are looked up once, not pixel by pixel.
  struct SourceRow {
    const PIX *first = nullptr;
    int x1 = 0;
    int x2 = 0;

    const PIX *at(int x) const {
      if (first == nullptr || x < x1 || x >= x2)
        return nullptr;
      return first + (static_cast<std::int64_t>(x) - x1) * nComponents;
    }
  };

  SourceRow sourceRow(int y) const {
    if (srcImg_ == nullptr)
      return {};
    const OfxRectI b = srcImg_->getBounds();
    const auto *first =
        static_cast<const PIX *>(srcImg_->getPixelAddress(b.x1, y));
    if (first == nullptr)
      return {};
    return {first, b.x1, b.x2};
  }

  // A lower bound of every seed the field can get. Bytes and shorts never
  // seed below -2; a float alpha is not clamped, so the source's own alphas
  // (inside the bounds) tell how deep a float seed goes.
  float lowestSeed() const {
    constexpr float kShallowest = rimlet::kDraftSeed;
    if constexpr (!std::is_floating_point_v<PIX>) {
      return kShallowest;
    } else {
      if (quality() == rimlet::OutlineQuality::Draft || srcImg_ == nullptr)
        return kShallowest;
      const OfxRectI b = srcImg_->getBounds();
      const int x1 = std::max(b.x1, bounds_.x1),
                x2 = std::min(b.x2, bounds_.x2);
      const int y1 = std::max(b.y1, bounds_.y1),
                y2 = std::min(b.y2, bounds_.y2);
      float highest = 1.0f;
      for (int y = y1; y < y2 && x1 < x2; ++y) {
        const SourceRow row = sourceRow(y);
        if (row.first == nullptr)
          continue;
        const PIX *pixel = row.at(x1);
        for (int x = x1; x < x2; ++x, pixel += nComponents)
          highest = std::max(highest, pixel[3]);
      }
      return std::min(kShallowest,
                      rimlet::smoothSeed<PIX, maxValue>(highest, alphaTable_));
    }
  }

  // Row by row: cells beside the source are far, the others come from the
  // source row's alphas.
  void seedRows(rimlet::FieldSeeding seeding,
                const rimlet::ByteSeedTable &byteSeeds, std::int64_t firstRow,
                std::int64_t endRow) {
    const rimlet::FieldExtent extent = fieldExtent();
    for (std::int64_t r = firstRow; r < endRow; ++r) {
      float *cells = field_ + extent.indexOf(0, r);
      const SourceRow src = sourceRow(static_cast<int>(fieldArea_.y1 + r));
      const int x1 = std::clamp(src.x1, fieldArea_.x1, fieldArea_.x2);
      const int x2 =
          src.first == nullptr ? x1 : std::clamp(src.x2, x1, fieldArea_.x2);
      std::fill(cells, cells + (x1 - fieldArea_.x1), rimlet::kFieldFar);
      rimlet::seedRow<PIX, nComponents, maxValue>(cells + (x1 - fieldArea_.x1),
                                                  src.at(x1), x2 - x1, seeding,
                                                  alphaTable_, byteSeeds);
      std::fill(cells + (x2 - fieldArea_.x1), cells + extent.width,
                rimlet::kFieldFar);
    }
  }

  // Seeds and sweeps forward a few rows at a time, so that each row is
  // swept while its seeds are still in the cache.
  template <class ForwardSweep>
  void seedAndSweepForward(rimlet::FieldSeeding seeding,
                           const rimlet::ByteSeedTable &byteSeeds,
                           ForwardSweep &&sweepForward) {
    // Two of the sweeps' runs of rows at a time; the first piece has one
    // row more, as the sweeps treat the first row on its own.
    constexpr std::int64_t kRowsAtOnce = 2 * rimlet::kRunRows;
    for (std::int64_t r = 0, end = 0; r < fieldHeight_; r = end) {
      end = std::min(fieldHeight_, r + kRowsAtOnce + (r == 0 ? 1 : 0));
      seedRows(seeding, byteSeeds, r, end);
      sweepForward(field_, fieldExtent(), r, end);
    }
  }

  // Draft seeding and Draft's forward-only pass, or Good/Best seeding and
  // the two-pass transform: on the host's threads when the field is big
  // enough for them to pay, with the same cells either way (up to
  // settledAbove_, and above it beyond).
  void buildField(rimlet::FieldSeeding seeding) {
    const rimlet::ByteSeedTable byteSeeds =
        rimlet::makeByteSeedTable(seeding, alphaTable_);
    const unsigned cpus =
        rimlet::FieldBuildPipeline::worthSharing(fieldExtent())
            ? OFX::MultiThread::getNumCPUs()
            : 1;
    if (cpus > 1) {
      rimlet::FieldBuildPipeline pipeline(
          field_, fieldExtent(), seeding,
          [&](std::int64_t firstRow, std::int64_t endRow) {
            seedRows(seeding, byteSeeds, firstRow, endRow);
          },
          settledAbove_);
      buildOnHostThreads(pipeline, cpus);
      return;
    }
    const auto sweepForward = seeding == rimlet::FieldSeeding::Draft
                                  ? rimlet::sweepForwardOnlyRows
                                  : rimlet::sweepForwardRows;
    seedAndSweepForward(seeding, byteSeeds,
                        [&](float *cells, rimlet::FieldExtent extent,
                            std::int64_t firstRow, std::int64_t endRow) {
                          sweepForward(cells, extent, firstRow, endRow,
                                       settledAbove_);
                        });
    if (seeding == rimlet::FieldSeeding::Smooth)
      rimlet::sweepBackward(field_, fieldExtent(), settledAbove_);
  }

  void buildDraftField() { buildField(rimlet::FieldSeeding::Draft); }
  void buildSmoothField() { buildField(rimlet::FieldSeeding::Smooth); }

  // Draft polls the host's abort once per row; an aborted row keeps
  // whatever the destination held and the next row is still tried.
  void processDraftRows(const RowRules &rowRules, const OfxRectI &area) const {
    for (int y = area.y1; y < area.y2; ++y) {
      if (_effect.abort())
        continue;
      processRow<rimlet::OutlineQuality::Draft>(rowRules, y, area.x1, area.x2);
    }
  }

  // Good and Best poll once per run of up to kTileSize rows.
  template <rimlet::OutlineQuality quality>
  void processTiles(const RowRules &rowRules, const OfxRectI &area) const {
    for (int y0 = area.y1; y0 < area.y2; y0 = nextTileStart(y0, area.y2)) {
      if (_effect.abort())
        continue;
      const int ye = nextTileStart(y0, area.y2);
      for (int x0 = area.x1; x0 < area.x2; x0 = nextTileStart(x0, area.x2))
        processTile<quality>(rowRules, x0, y0, nextTileStart(x0, area.x2), ye);
    }
  }

  static int nextTileStart(int start, int end) {
    return start + static_cast<int>(std::min<std::int64_t>(
                       kTileSize, static_cast<std::int64_t>(end) - start));
  }

  template <rimlet::OutlineQuality quality>
  void processTile(const RowRules &rowRules, int x0, int y0, int xe,
                   int ye) const {
    for (int y = y0; y < ye; ++y)
      processRow<quality>(rowRules, y, x0, xe);
  }

  // Writes pixels xs to xe - 1 of row y, all inside the destination bounds
  // and the destination image (writableArea saw to that).
  template <rimlet::OutlineQuality quality>
  void processRow(const RowRules &rowRules, int y, int xs, int xe) const {
    auto *dst = static_cast<PIX *>(_dstImg->getPixelAddress(xs, y));
    if (dst == nullptr)
      return;
    const SourceRow src = sourceRow(y);
    // The row in three runs: before the source row, along it, after it.
    const int sx1 = src.first == nullptr ? xe : std::clamp(src.x1, xs, xe);
    const int sx2 = src.first == nullptr ? xe : std::clamp(src.x2, sx1, xe);
    if constexpr (nComponents != 4) {
      // Alpha-only images pass the source through (see renderPixel).
      std::fill(dst, dst + (sx1 - xs), PIX(0));
      std::copy(src.at(sx1), src.at(sx1) + (sx2 - sx1), dst + (sx1 - xs));
      std::fill(dst + (sx2 - xs), dst + (xe - xs), PIX(0));
      return;
    } else {
      rimlet::RowCells cells;
      cells.row = fieldRow(y) + (xs - fieldArea_.x1);
      // Best's block needs a row above and a column to the right; the
      // destination's last row and column read the cell alone.
      if (quality == rimlet::OutlineQuality::Best && y + 1 < bounds_.y2)
        cells.above = cells.row + fieldWidth_;
      cells.lastBlock = std::min<std::int64_t>(
                            xe, static_cast<std::int64_t>(bounds_.x2) - 1) -
                        xs;
      const PIX *none = nullptr;
      rimlet::renderRow<quality>(rowRules, cells, none, dst, 0, sx1 - xs);
      rimlet::renderRow<quality>(rowRules, cells, src.at(sx1), dst, sx1 - xs,
                                 sx2 - xs);
      rimlet::renderRow<quality>(rowRules, cells, none, dst, sx2 - xs, xe - xs);
    }
  }
};

// The six formats the effect renders, compiled once in the library.
extern template class FastOutlineProcessor<unsigned char, 4, 255>;
extern template class FastOutlineProcessor<unsigned short, 4, 65535>;
extern template class FastOutlineProcessor<float, 4, 1>;
extern template class FastOutlineProcessor<unsigned char, 1, 255>;
extern template class FastOutlineProcessor<unsigned short, 1, 65535>;
extern template class FastOutlineProcessor<float, 1, 1>;
