// The outline processor: renders one output image for one render call.
//
// The instance configures it through the setters (destination, source,
// render window, colour, width, quality, destination bounds) and calls
// process(). The bands that the support library runs on the host's threads
// write disjoint rows of the window.
//
// The distance field is built by strips: each band walks its rows a strip
// at a time, builds the field for the strip and the cells beyond it that
// can change one of its pixels (the field's reach, see rimlet::fieldReach)
// in a buffer of its own, small enough to stay in the cache, and writes the
// strip's pixels from it at once. The field then never makes a round trip
// through memory, a render's field memory does not grow with the frame's
// height, and the bands share nothing. A reach that has no bound (a width
// that is not a number, absurd float alphas), or one too long for strips
// to pay, builds one field once, in preProcess, over the part of the
// destination bounds that can change a pixel of the window, on the host's
// threads when it is big; the bands then only read it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

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
  // Rows of the window a strip writes; 0 (the default) lets the processor
  // choose from the frame's width, and a negative count builds one field
  // for the window instead. For tests and measurements: any count gives
  // the same pixels.
  void setStripRows(int rows) { stripRowsAsked_ = rows; }

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
  // Good and Best poll the host's abort once per run of this many rows, and
  // walk a field built once for the window in tiles this many pixels square.
  static constexpr int kTileSize = 256;

  // A field over `area` (pixel coordinates, inside bounds_): cell (c, r)
  // stands for pixel (area.x1 + c, area.y1 + r).
  struct FieldView {
    float *cells = nullptr;
    OfxRectI area{0, 0, 0, 0};

    rimlet::FieldExtent extent() const {
      return {static_cast<std::int64_t>(area.x2) - area.x1,
              static_cast<std::int64_t>(area.y2) - area.y1};
    }
    // The cells of row y, from column area.x1 on.
    const float *row(int y) const {
      return cells +
             extent().indexOf(0, static_cast<std::int64_t>(y) - area.y1);
    }
  };

  // A strip's buffer, lent to one band for as long as it runs.
  class StripBuffer {
  public:
    explicit StripBuffer(FastOutlineProcessorBase &processor);
    ~StripBuffer();
    StripBuffer(const StripBuffer &) = delete;
    StripBuffer &operator=(const StripBuffer &) = delete;
    float *cells() const { return cells_; }

  private:
    FastOutlineProcessorBase &processor_;
    int slot_ = -1;
    std::vector<float> own_;
    float *cells_ = nullptr;
  };

  // The part of a band that may be written: inside the destination bounds
  // the field is defined over and inside the destination image itself, so
  // that every row is addressed from a pixel that exists.
  OfxRectI writableArea(const OfxRectI &band) const;

  // The cells the pixels of `area` read: Best's block reaches one column
  // and one row on (within the bounds).
  OfxRectI cellsReadFor(const OfxRectI &area) const;

  // The part of the destination bounds the field must cover so that every
  // pixel written in `area` is what the whole-destination field would give
  // (see rimlet::fieldReach): the cells read, grown by the reach.
  OfxRectI fieldAreaFor(const OfxRectI &area) const;

  // Whether the window is to be built by strips; if so, sizes the strips
  // and makes room for one buffer per thread. `area` is the writable part
  // of the window.
  bool planStrips(const OfxRectI &area);

  // Makes room for a field over `area` (inside the bounds), built once for
  // the whole window. The cells are left unset: every build writes each of
  // them before any is read.
  void allocateWholeField(const OfxRectI &area);

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
  // The field built once for the window, when not by strips.
  FieldView wholeField_;
  rimlet::FieldStorage ownFieldStorage_;
  rimlet::FieldStorage *fieldStorage_ = nullptr;
  float lowestSeed_ = rimlet::kDraftSeed;
  float settledAbove_ = rimlet::kNothingSettled;
  // Strips: the window rows each writes, and one buffer of stripCells_
  // cells per thread at stripBuffers_, those not lent listed in
  // freeStrips_.
  int stripRowsAsked_ = 0;
  int stripRows_ = 0;
  std::int64_t stripCells_ = 0;
  float *stripBuffers_ = nullptr;
  std::mutex stripMutex_;
  std::vector<int> freeStrips_;
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

  // The field's plan: by strips, each band building its own as it goes, or
  // one build for the window before any band writes a pixel. Alpha-only
  // images need none: their pixels never read it.
  void preProcess() override {
    if constexpr (nComponents != 4)
      return;
    const OfxRectI area = writableArea(_renderWindow);
    if (area.x1 >= area.x2 || area.y1 >= area.y2)
      return;
    const rimlet::OutlineQuality level = quality();
    lowestSeed_ = lowestSeed();
    settledAbove_ = rimlet::settledCellValue(
        level, static_cast<float>(widthPx_), lowestSeed_);
    if (planStrips(area))
      return;
    allocateWholeField(fieldAreaFor(cellsReadFor(area)));
    buildField(wholeField_, true);
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
      processRuns<rimlet::OutlineQuality::Good>(rowRules, area);
      return;
    case rimlet::OutlineQuality::Best:
      processRuns<rimlet::OutlineQuality::Best>(rowRules, area);
      return;
    }
  }

private:
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
  void seedRows(const FieldView &field, rimlet::FieldSeeding seeding,
                const rimlet::ByteSeedTable &byteSeeds, std::int64_t firstRow,
                std::int64_t endRow) const {
    const rimlet::FieldExtent extent = field.extent();
    const OfxRectI &fa = field.area;
    for (std::int64_t r = firstRow; r < endRow; ++r) {
      float *cells = field.cells + extent.indexOf(0, r);
      const SourceRow src = sourceRow(static_cast<int>(fa.y1 + r));
      const int x1 = std::clamp(src.x1, fa.x1, fa.x2);
      const int x2 = src.first == nullptr ? x1 : std::clamp(src.x2, x1, fa.x2);
      std::fill(cells, cells + (x1 - fa.x1), rimlet::kFieldFar);
      rimlet::seedRow<PIX, nComponents, maxValue>(cells + (x1 - fa.x1),
                                                  src.at(x1), x2 - x1, seeding,
                                                  alphaTable_, byteSeeds);
      std::fill(cells + (x2 - fa.x1), cells + extent.width, rimlet::kFieldFar);
    }
  }

  // Seeds and sweeps forward a few rows at a time, so that each row is
  // swept while its seeds are still in the cache.
  template <class ForwardSweep>
  void seedAndSweepForward(const FieldView &field, rimlet::FieldSeeding seeding,
                           const rimlet::ByteSeedTable &byteSeeds,
                           ForwardSweep &&sweepForward) const {
    // Two of the sweeps' runs of rows at a time; the first piece has one
    // row more, as the sweeps treat the first row on its own.
    constexpr std::int64_t kRowsAtOnce = 2 * rimlet::kRunRows;
    const rimlet::FieldExtent extent = field.extent();
    for (std::int64_t r = 0, end = 0; r < extent.height; r = end) {
      end = std::min(extent.height, r + kRowsAtOnce + (r == 0 ? 1 : 0));
      seedRows(field, seeding, byteSeeds, r, end);
      sweepForward(field.cells, extent, r, end);
    }
  }

  // Draft seeding and Draft's forward-only pass, or Good/Best seeding and
  // the two-pass transform. A field built once for the window goes to the
  // host's threads when it is big enough for them to pay (onHostThreads),
  // with the same cells either way (up to settledAbove_, and above it
  // beyond); a strip's is built on the band's own thread.
  void buildField(const FieldView &field, bool onHostThreads) {
    const rimlet::FieldSeeding seeding =
        quality() == rimlet::OutlineQuality::Draft
            ? rimlet::FieldSeeding::Draft
            : rimlet::FieldSeeding::Smooth;
    const rimlet::ByteSeedTable byteSeeds =
        rimlet::makeByteSeedTable(seeding, alphaTable_);
    const unsigned cpus =
        onHostThreads &&
                rimlet::FieldBuildPipeline::worthSharing(field.extent())
            ? OFX::MultiThread::getNumCPUs()
            : 1;
    if (cpus > 1) {
      rimlet::FieldBuildPipeline pipeline(
          field.cells, field.extent(), seeding,
          [&](std::int64_t firstRow, std::int64_t endRow) {
            seedRows(field, seeding, byteSeeds, firstRow, endRow);
          },
          settledAbove_);
      buildOnHostThreads(pipeline, cpus);
      return;
    }
    const auto sweepForward = seeding == rimlet::FieldSeeding::Draft
                                  ? rimlet::sweepForwardOnlyRows
                                  : rimlet::sweepForwardRows;
    seedAndSweepForward(field, seeding, byteSeeds,
                        [&](float *cells, rimlet::FieldExtent extent,
                            std::int64_t firstRow, std::int64_t endRow) {
                          sweepForward(cells, extent, firstRow, endRow,
                                       settledAbove_);
                        });
    if (seeding == rimlet::FieldSeeding::Smooth)
      rimlet::sweepBackward(field.cells, field.extent(), settledAbove_);
  }

  // The field for the rows of `strip`, built in `cells`.
  FieldView buildStripField(const OfxRectI &strip, float *cells) {
    const FieldView field{cells, fieldAreaFor(cellsReadFor(strip))};
    buildField(field, false);
    return field;
  }

  // Rows y1 to y2 - 1 of the area, their field at hand.
  template <rimlet::OutlineQuality quality>
  void processRows(const RowRules &rowRules, const FieldView &field,
                   const OfxRectI &area, int y1, int y2) const {
    for (int y = y1; y < y2; ++y)
      processRow<quality>(rowRules, field, y, area.x1, area.x2);
  }

  // Draft polls the host's abort once per row; an aborted row keeps
  // whatever the destination held and the next row is still tried.
  void processDraftRows(const RowRules &rowRules, const OfxRectI &area) {
    constexpr auto kDraft = rimlet::OutlineQuality::Draft;
    if (stripRows_ <= 0) {
      for (int y = area.y1; y < area.y2; ++y) {
        if (_effect.abort())
          continue;
        processRow<kDraft>(rowRules, wholeField_, y, area.x1, area.x2);
      }
      return;
    }
    const StripBuffer buffer(*this);
    for (int y1 = area.y1; y1 < area.y2;) {
      const int y2 = nextStart(y1, area.y2, stripRows_);
      const FieldView field =
          buildStripField({area.x1, y1, area.x2, y2}, buffer.cells());
      for (int y = y1; y < y2; ++y) {
        if (_effect.abort())
          continue;
        processRow<kDraft>(rowRules, field, y, area.x1, area.x2);
      }
      y1 = y2;
    }
  }

  // Good and Best poll once per run of up to kTileSize rows; an aborted
  // run is neither built nor written.
  template <rimlet::OutlineQuality quality>
  void processRuns(const RowRules &rowRules, const OfxRectI &area) {
    std::unique_ptr<StripBuffer> buffer;
    if (stripRows_ > 0)
      buffer = std::make_unique<StripBuffer>(*this);
    for (int y0 = area.y1; y0 < area.y2; y0 = nextStart(y0, area.y2)) {
      if (_effect.abort())
        continue;
      const int ye = nextStart(y0, area.y2);
      if (!buffer) {
        processTiles<quality>(rowRules, area, y0, ye);
        continue;
      }
      for (int y1 = y0; y1 < ye;) {
        const int y2 = nextStart(y1, ye, stripRows_);
        const FieldView field =
            buildStripField({area.x1, y1, area.x2, y2}, buffer->cells());
        processRows<quality>(rowRules, field, area, y1, y2);
        y1 = y2;
      }
    }
  }

  // The field built once for the window: its rows are walked in tiles of
  // kTileSize columns, so that the source, destination and field rows of a
  // tile stay in cache.
  template <rimlet::OutlineQuality quality>
  void processTiles(const RowRules &rowRules, const OfxRectI &area, int y0,
                    int ye) const {
    for (int x0 = area.x1; x0 < area.x2; x0 = nextStart(x0, area.x2)) {
      const int xe = nextStart(x0, area.x2);
      for (int y = y0; y < ye; ++y)
        processRow<quality>(rowRules, wholeField_, y, x0, xe);
    }
  }

  static int nextStart(int start, int end, int step = kTileSize) {
    return start + static_cast<int>(std::min<std::int64_t>(
                       step, static_cast<std::int64_t>(end) - start));
  }

  // Writes pixels xs to xe - 1 of row y, all inside the destination bounds
  // and the destination image (writableArea saw to that).
  template <rimlet::OutlineQuality quality>
  void processRow(const RowRules &rowRules, const FieldView &field, int y,
                  int xs, int xe) const {
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
      cells.row = field.row(y) + (xs - field.area.x1);
      // Best's block needs a row above and a column to the right; the
      // destination's last row and column read the cell alone.
      if (quality == rimlet::OutlineQuality::Best && y + 1 < bounds_.y2)
        cells.above = cells.row + field.extent().width;
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
