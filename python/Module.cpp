// The ofxhost Python module: renders numpy arrays through OpenFX filter
// plug-ins with the headless host, as ofxrender renders files.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "Errors.h"
#include "Objects.h"

namespace py = pybind11;

namespace ofxpy {
namespace {

py::tuple rectTuple(const OfxRectI &r) {
  return py::make_tuple(r.x1, r.y1, r.x2, r.y2);
}

ofxhost::ImagePolicy imagePolicy(const std::string &images) {
  if (images == "whole")
    return ofxhost::ImagePolicy::Whole;
  if (images == "requested")
    return ofxhost::ImagePolicy::Requested;
  throw py::value_error("images must be 'whole' or 'requested', not '" +
                        images + "'");
}

std::optional<OfxRectI> windowOf(const py::object &window) {
  if (window.is_none())
    return std::nullopt;
  std::vector<int> values;
  try {
    values = window.cast<std::vector<int>>();
  } catch (const py::cast_error &) {
    values.clear();
  }
  if (values.size() != 4)
    throw py::type_error("window must be four whole numbers (x1, y1, x2, y2)");
  return OfxRectI{values[0], values[1], values[2], values[3]};
}

Render renderPixels(Effect &effect, const py::array &pixels, double time,
                    double scale, const py::object &window, int tiles,
                    const std::string &images) {
  RenderOptions options;
  options.time = time;
  options.scale = scale;
  options.window = windowOf(window);
  options.tiles = tiles;
  options.images = imagePolicy(images);
  return effect.render(pixels, options);
}

} // namespace
} // namespace ofxpy

PYBIND11_MODULE(ofxhost, m) {
  using namespace ofxpy;
  m.doc() = "Renders numpy arrays through OpenFX filter plug-ins.";
  m.attr("__version__") = QFX_PROJECT_VERSION;
  defineErrors(m);

  py::class_<Render>(m, "Render",
                     "A rendered image: its pixels and where they lie.")
      .def_readonly("pixels", &Render::pixels,
                    "The output's whole region of definition, rows top-down, "
                    "in the source's dtype and channels.")
      .def_property_readonly(
          "bounds", [](const Render &r) { return rectTuple(r.bounds); },
          "(x1, y1, x2, y2) of pixels in OpenFX's coordinates (y up); the "
          "source covers (0, 0, W, H).")
      .def_property_readonly(
          "window", [](const Render &r) { return rectTuple(r.window); },
          "The part of bounds that was rendered; the rest is zero.");

  py::class_<Effect>(m, "Effect", "An instance of a filter plug-in.")
      .def_property_readonly("identifier", &Effect::identifier)
      .def("parameters", &Effect::parameters,
           "The parameters, as `ofxrender describe --json` lists them.")
      .def("set", &Effect::set,
           "Sets parameters by name: numbers, sequences for colours and "
           "2D/3D values, option texts (or their first words) or indices, "
           "booleans. A value set clears the parameter's keys. Every value "
           "is checked before any is set.")
      .def("key", &Effect::key, py::arg("name"), py::kw_only(), py::arg("time"),
           py::arg("value"),
           "Sets a key of an animating parameter; values between keys are "
           "interpolated.")
      .def("value", &Effect::value, py::arg("name"), py::arg("time") = 0.0,
           "A parameter's value at a time: a float, a tuple, or a text.")
      .def("render", &renderPixels, py::arg("pixels"), py::kw_only(),
           py::arg("time") = 0.0, py::arg("scale") = 1.0,
           py::arg("window") = py::none(), py::arg("tiles") = 1,
           py::arg("images") = "whole",
           "Renders premultiplied pixels (H x W x 4, H x W x 1 or H x W of "
           "uint8, uint16 or float32, rows top-down) at a time and render "
           "scale. window=(x1, y1, x2, y2) renders part of the output, "
           "tiles=n cuts it into n x n renders, images='requested' hands "
           "each render only the parts it asks for, as a tiling host does. "
           "The GIL is released meanwhile; Ctrl-C aborts the render and "
           "raises KeyboardInterrupt.");

  py::class_<Host>(m, "Host",
                   "Finds OpenFX plug-ins in plugin_path (then in "
                   "OFX_PLUGIN_PATH and /usr/OFX/Plugins), each bundle read "
                   "in a separate process first, and makes instances.")
      .def(
          py::init<const std::vector<std::string> &, std::optional<unsigned>>(),
          py::kw_only(), py::arg("plugin_path") = std::vector<std::string>{},
          py::arg("threads") = py::none(),
          "threads: how many threads each render uses; None: all CPUs.")
      .def("plugins", &Host::plugins,
           "One dict per plug-in found: identifier, version (major, minor), "
           "label, bundle.")
      .def("errors", &Host::errors,
           "One line per bundle that could not be used, with the reasons.")
      .def("instance", &Host::instance, py::arg("name"),
           "An instance of the plug-in named by its identifier, the last "
           "part of it ('qoutline'), its label, or a bundle path.");
}
