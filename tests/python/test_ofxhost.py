"""The ofxhost module: renders equal ofxrender's, threads, every error
kind, Ctrl-C during a render, and folders holding broken bundles."""
import _thread
import os
import subprocess
import threading
import time

import numpy as np
import pytest

import ofxhost
from conftest import BROKEN_BUNDLES, BUNDLES, OFXRENDER, picture

DTYPES = [np.uint8, np.uint16, np.float32]
EFFECT_SETTINGS = {
    "qoutline": {"outlineWidth": 3.5, "outlineColor": (1.0, 0.5, 0.25),
                 "quality": "Best (Highest Quality)"},
    "qgradient": {"gradientType": "Radial"},
}


OIIO_TYPES = {np.uint8: "uint8", np.uint16: "uint16", np.float32: "float"}


def oiio():
    return pytest.importorskip("OpenImageIO")


def write_tiff(path, pixels):
    io = oiio()
    height, width, channels = pixels.shape
    header = io.ImageSpec(width, height, channels,
                          OIIO_TYPES[pixels.dtype.type])
    out = io.ImageOutput.create(path)
    assert out.open(path, header), io.geterror()
    assert out.write_image(pixels), out.geterror()
    out.close()


def read_image(path, dtype):
    io = oiio()
    image = io.ImageInput.open(path)
    assert image, io.geterror()
    pixels = image.read_image(OIIO_TYPES[dtype])
    image.close()
    return pixels


def set_argument(name, value):
    if isinstance(value, tuple):
        value = ",".join(repr(v) for v in value)
    return f"{name}={value}"


@pytest.mark.parametrize("effect", sorted(EFFECT_SETTINGS))
@pytest.mark.parametrize("channels", [4, 1])
@pytest.mark.parametrize("dtype", DTYPES)
def test_render_equals_ofxrender(host, tmp_path, effect, channels, dtype):
    source = picture(dtype, channels)
    settings = EFFECT_SETTINGS[effect]
    fx = host.instance(effect)
    fx.set(**settings)
    out = fx.render(source)

    write_tiff(str(tmp_path / "in.tif"), source)
    command = [OFXRENDER, "render", effect, str(tmp_path / "in.tif"),
               str(tmp_path / "out.tif"), "--overscan", "--no-cache",
               "--plugin-path", BUNDLES]
    command += ["--alpha"] if channels == 1 else []
    for name, value in settings.items():
        command += ["--set", set_argument(name, value)]
    subprocess.run(command, check=True, capture_output=True)
    expected = read_image(str(tmp_path / "out.tif"), dtype)

    assert out.pixels.dtype == dtype
    assert out.pixels.shape == expected.shape
    np.testing.assert_array_equal(out.pixels, expected)
    x1, y1, x2, y2 = out.bounds
    assert (x2 - x1, y2 - y1) == (expected.shape[1], expected.shape[0])


def test_tiles_windows_and_layouts_agree(host):
    fx = host.instance("net.qfx.qoutline")
    fx.set(outlineWidth=2.0)
    source = picture(np.float32, 4)
    whole = fx.render(source)
    tiled = fx.render(source, tiles=3, images="requested")
    np.testing.assert_array_equal(tiled.pixels, whole.pixels)
    # A read-only array is copied, a plain one handed over; neither is
    # changed.
    frozen = source.copy()
    frozen.setflags(write=False)
    np.testing.assert_array_equal(fx.render(frozen).pixels, whole.pixels)
    np.testing.assert_array_equal(frozen, source)
    np.testing.assert_array_equal(source, picture(np.float32, 4))
    # A view with strides of its own renders as its copy does.
    wide = np.zeros((29, 74, 4), np.float32)
    wide[:, ::2] = source
    np.testing.assert_array_equal(fx.render(wide[:, ::2]).pixels,
                                  whole.pixels)
    # A flat alpha picture comes back flat.
    flat = fx.render(picture(np.uint8, 1)[..., 0])
    assert flat.pixels.shape == whole.pixels.shape[:2]
    # A window renders only its part; the rest stays zero.
    x1, y1, x2, y2 = whole.bounds
    part = fx.render(source, window=(x1, y1, x1 + 10, y2))
    np.testing.assert_array_equal(part.pixels[:, :10], whole.pixels[:, :10])
    assert not part.pixels[:, 10:].any()


def test_parameters_keys_and_values(host):
    fx = host.instance("Q_Outline")
    names = [p["name"] for p in fx.parameters()]
    assert "outlineWidth" in names and "quality" in names
    fx.key("outlineWidth", time=0, value=2.0)
    fx.key("outlineWidth", time=10, value=12.0)
    assert fx.value("outlineWidth", time=5) == pytest.approx(7.0)
    assert fx.render(picture(np.uint8, 4), time=10).bounds == (-12, -12, 49,
                                                                41)
    fx.set(outlineColor=(0, 1, 0))
    assert fx.value("outlineColor") == (0.0, 1.0, 0.0, 1.0)
    identifiers = [p["identifier"] for p in host.plugins()]
    assert "net.qfx.qoutline" in identifiers


def test_threads_render_side_by_side(host):
    # Each render holds for a while; side by side, two take about as long
    # as one only if the GIL is released while they run.
    hold = 0.6
    effects = [host.instance("net.qfx.test.probe") for _ in range(2)]
    for fx in effects:
        fx.set(holdSeconds=hold)
    source = picture(np.float32, 4)
    results = [None, None]

    def run(i):
        results[i] = effects[i].render(source).pixels

    start = time.monotonic()
    threads = [threading.Thread(target=run, args=(i,)) for i in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert time.monotonic() - start < 1.8 * hold
    np.testing.assert_array_equal(results[0], results[1])

    # A call on an instance another thread is rendering waits its turn.
    worker = threading.Thread(target=run, args=(0,))
    worker.start()
    time.sleep(0.1)
    effects[0].set(holdSeconds=0.0)
    worker.join()

    outline = host.instance("qoutline")
    expected = outline.render(source).pixels
    with_threads = [None] * 4

    def render_outline(i):
        with_threads[i] = outline.render(source).pixels

    threads = [threading.Thread(target=render_outline, args=(i,))
               for i in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for pixels in with_threads:
        np.testing.assert_array_equal(pixels, expected)


def failing_probe(host):
    fx = host.instance("net.qfx.test.probe")
    fx.set(mode="Throw", throwStatus=7)
    fx.render(picture(np.float32, 4))


@pytest.mark.parametrize("call, error, message", [
    (lambda h: h.instance("nosuch"), ofxhost.UnknownPluginError,
     "no plug-in named \"nosuch\"; searched "),
    (lambda h: h.instance("qoutline").set(outlineWidht=2),
     ofxhost.UnknownParameterError,
     "unknown parameter 'outlineWidht' in 'outlineWidht=2'; the plug-in "
     "has: outlineColor, outlineWidth, quality"),
    (lambda h: h.instance("qoutline").set(outlineWidth=99.0),
     ofxhost.BadValueError,
     "outlineWidth: '99.0' is outside the parameter's range: 0.1 to 20"),
    (lambda h: h.instance("qoutline").set(quality="Superb"),
     ofxhost.BadValueError, "quality: 'Superb' is not one of its options"),
    (lambda h: h.instance("qoutline").set(outlineColor=(1, 0)),
     ofxhost.BadValueError, "outlineColor: '1,0' has 2 component(s)"),
    (failing_probe, ofxhost.PluginError,
     "net.qfx.test.probe: OfxImageEffectActionRender failed: "
     "kOfxStatErrFormat (7)"),
    (lambda h: h.instance("qoutline").render(np.zeros((4, 4, 4))),
     TypeError, "pixels must be uint8, uint16 or float32"),
    (lambda h: h.instance("qoutline").render(np.zeros((4, 4, 3), np.uint8)),
     ValueError, "pixels must be H x W x 4 (RGBA), H x W x 1 or H x W"),
    (lambda h: h.instance("qoutline").render(np.zeros((0, 4, 4), np.uint8)),
     ValueError, "pixels hold no pixel"),
    (lambda h: h.instance("qoutline").render(picture(np.uint8, 4),
                                             window=(0, 0, 99, 5)),
     ValueError, "window (0, 0, 99, 5) reaches outside the output image"),
])
def test_errors(host, call, error, message):
    with pytest.raises(error) as raised:
        call(host)
    assert str(raised.value).startswith(message), str(raised.value)
    if error is ofxhost.PluginError:
        assert raised.value.status_name == "kOfxStatErrFormat"
    if error not in (TypeError, ValueError):
        assert isinstance(raised.value, ofxhost.Error)


def test_bad_value_leaves_parameters_as_they_were(host):
    fx = host.instance("qoutline")
    with pytest.raises(ofxhost.BadValueError):
        fx.set(outlineWidth=5.0, quality="Superb")
    assert fx.value("outlineWidth") != 5.0


def test_ctrl_c_aborts_the_render_and_raises(host):
    fx = host.instance("net.qfx.test.probe")
    fx.set(holdSeconds=60.0)
    timer = threading.Timer(0.3, _thread.interrupt_main)
    start = time.monotonic()
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        fx.render(picture(np.float32, 4))
    assert time.monotonic() - start < 1.3
    # The instance renders again afterwards.
    fx.set(holdSeconds=0.0)
    assert fx.render(picture(np.float32, 4)).pixels.shape == (29, 37, 4)


def test_broken_bundles_are_named_and_passed_over(tmp_path):
    folder = tmp_path / "plugins"
    folder.mkdir()
    for name in ["CrashEntry", "BrokenLoad", "NoEntryPoints"]:
        os.symlink(os.path.join(os.path.abspath(BROKEN_BUNDLES),
                                name + ".ofx.bundle"),
                   folder / (name + ".ofx.bundle"))
    os.symlink(os.path.join(os.path.abspath(BUNDLES), "Tintrow.ofx.bundle"),
               folder / "Tintrow.ofx.bundle")
    host = ofxhost.Host(plugin_path=[str(folder)], threads=2)
    assert [p["identifier"] for p in host.plugins()] == ["net.qfx.qgradient"]
    problems = "\n".join(host.errors())
    for name in ["CrashEntry", "BrokenLoad", "NoEntryPoints"]:
        assert name + ".ofx.bundle" in problems
    out = host.instance("qgradient").render(picture(np.uint16, 4))
    assert out.pixels.dtype == np.uint16
