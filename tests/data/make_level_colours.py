#!/usr/bin/env python3
"""Writes level_colours.csv: the level colour of every level 0..642.

Made independently of the program: Python's floats are the same 64-bit
reals and its round() takes halves to the even neighbour.
Run from this folder: python3 make_level_colours.py > level_colours.csv
"""

RED_GAIN = 2.2
BLUE_GAIN = 1.5

print("level,red,green,blue")
for level in range(0, 643):
    green = round(level / RED_GAIN)
    blue = round((level * BLUE_GAIN) / RED_GAIN)
    print(f"{level},{min(level, 255)},{min(green, 255)},{min(blue, 255)}")
