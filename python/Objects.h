// What the module shows Python: a Host that finds plug-ins, an Effect (one
// instance of a filter plug-in) and the Render it returns.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "ofxhost/Host.h"

namespace ofxpy {

// The loaded host, shared by the Python Host and every Effect made from
// it, so that no instance outlives the host holding its plug-in.
struct LoadedHost {
  std::unique_ptr<ofxhost::Host> host;
  std::vector<std::string> pluginPaths;
};

struct Render {
  pybind11::array pixels;
  OfxRectI bounds{};
  OfxRectI window{};
};

struct RenderOptions {
  double time = 0.0;
  double scale = 1.0;
  std::optional<OfxRectI> window; // default: the whole output
  int tiles = 1;                  // n x n
  ofxhost::ImagePolicy images = ofxhost::ImagePolicy::Whole;
};

class Effect {
public:
  Effect(std::shared_ptr<LoadedHost> host, ofxhost::Plugin &plugin);
  ~Effect();

  std::string identifier() const { return identifier_; }
  pybind11::object parameters();
  void set(const pybind11::kwargs &values);
  void key(const std::string &name, double time, const pybind11::handle &value);
  pybind11::object value(const std::string &name, double time);
  Render render(const pybind11::array &pixels, const RenderOptions &options);

private:
  std::unique_lock<std::mutex> claim();
  void checkFormatSupported(const ofxhost::Image &image) const;
  ofxhost::ActionResult renderTiles(const std::vector<OfxRectI> &tiles,
                                    const RenderOptions &options);
  ofxhost::ActionResult renderInterruptibly(const std::vector<OfxRectI> &tiles,
                                            const RenderOptions &options);
  void checked(const ofxhost::ActionResult &result) const;

  std::shared_ptr<LoadedHost> host_;
  ofxhost::Plugin &plugin_;
  std::string identifier_;
  std::vector<std::string> supportedDepths_;
  std::vector<std::string> sourceComponents_;
  std::unique_ptr<ofxhost::Instance> instance_;
  // One instance renders one frame at a time; Python threads that share
  // an Effect take turns.
  std::mutex busy_;
  std::atomic<bool> abort_{false};
};

class Host {
public:
  Host(const std::vector<std::string> &pluginPaths,
       std::optional<unsigned> threads);
  pybind11::list plugins();
  std::vector<std::string> errors() const;
  std::unique_ptr<Effect> instance(const std::string &name);

private:
  std::shared_ptr<LoadedHost> loaded_;
};

} // namespace ofxpy
