#!/usr/bin/env python3
"""Exits 0 when all GIF files given decode to the same gray pixels."""
import sys

import numpy as np
from PIL import Image

pictures = [np.asarray(Image.open(p).convert("L")) for p in sys.argv[1:]]
same = all(p.shape == pictures[0].shape and (p == pictures[0]).all() for p in pictures)
print("pixels:", "identical" if same else "DIFFERENT", "in", ", ".join(sys.argv[1:]))
sys.exit(0 if same else 1)
