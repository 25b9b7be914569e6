"""Shared fixtures: where the build put the bundles, and test pictures."""
import os

import numpy as np
import pytest

import ofxhost

BUNDLES = os.environ.get("QFX_BUNDLES", "build/bundles")
PROBE_BUNDLES = os.environ.get("QFX_PROBE_BUNDLES", "build/test-bundles")
BROKEN_BUNDLES = os.environ.get("QFX_BROKEN_BUNDLES",
                                "build/tests/host/bundles")
OFXRENDER = os.environ.get("OFXRENDER", "build/bin/ofxrender")

MAX_VALUE = {np.uint8: 255, np.uint16: 65535, np.float32: 1.0}


def picture(dtype, channels, width=37, height=29):
    """A premultiplied picture with soft and hard edges and see-through
    parts, top row first, in dtype's range."""
    y, x = np.mgrid[0:height, 0:width].astype(np.float64)
    disc = np.clip(9.5 - np.hypot(x - 14.3, y - 12.7), 0.0, 1.0)
    bar = ((x > 20) & (x < 31) & (y > 17) & (y < 24)) * 0.6
    alpha = np.maximum(disc, bar)
    colour = np.stack([x / width, y / height, 0.5 + 0 * x], axis=-1)
    rgba = np.concatenate([colour * alpha[..., None], alpha[..., None]], -1)
    if channels == 1:
        rgba = rgba[..., 3:]
    if dtype == np.float32:
        return rgba.astype(np.float32)
    return np.round(rgba * MAX_VALUE[dtype]).astype(dtype)


@pytest.fixture(scope="session")
def host():
    return ofxhost.Host(plugin_path=[BUNDLES, PROBE_BUNDLES])
