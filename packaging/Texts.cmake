# What the program's documents say about it: the .deb's long description, the
# AppStream metadata, the man page and the README.txt of the Windows zip are
# all made from these texts (cmake/Documents.cmake renders them), so that
# each is written once. Plain text: no semicolons, no markup.

# The long description, one paragraph an entry.
set(PRUVEX_DESCRIPTION
  "Pruvex turns a computer monitor into a photographic test target for a camera. It shows, in one window, either the flat field, the whole picture in one colour whose level you step up and down from the keyboard, or the grid mosaic, 11 x 7 touching squares on white whose levels rise by 4 from square to square, sized to the window."
  "A level becomes a colour by one rule: red is the level, green the level divided by 2.2, blue the level times 1.5 divided by 2.2. The window's caption names the pattern, its level and the shooting instruction. Every pixel is a device pixel: desktop scaling does not stretch or blend the picture.")

# The two numbers of the command line and how they are read.
set(PRUVEX_ARGUMENTS
  "STEP|How far one flat-field key moves the level, 1 to 255 (default 1)."
  "LEVEL|The flat-field level to start at, 0 to 255 (default 212).")
set(PRUVEX_ARGUMENT_RULES
  "The arguments are joined with single spaces and split again at every single space, so two spaces in a row give an empty field. A field that is exactly one of the options below is taken out first, wherever it stands. Of the rest, the first field is STEP, the second LEVEL, and further fields are ignored. A field that does not begin with a number, an empty one included, reads as 0, decimals round to the nearest integer (halves to even), and values outside the range are limited to it, so no command line is an error. Any other field that begins with two hyphens is read as a number like any field, after a warning naming the options.")

# The keys, "keys|what they do".
set(PRUVEX_KEYS
  "- a A|In the flat field, lower the level by STEP if the result stays above 0. In the grid mosaic, lower the first square's level by 1, down to 0."
  "+ z Z|In the flat field, raise the level by STEP if the result stays below 255. In the grid mosaic, raise the first square's level by 1, up to 178."
  "F f|Show the flat field."
  "G g|Show the grid mosaic."
  "F11|Switch full screen on or off, on the monitor that holds the window."
  "Escape|Leave full screen, without a beep (in a window, Escape beeps like any other character not listed here)."
  "Any other character|Beep. Keys that type no character, such as the arrows, the other function keys or Shift alone, do nothing.")
set(PRUVEX_KEY_RULE
  "A step that would leave the range is skipped, not clamped.")

# The options, "option|what it does".
set(PRUVEX_OPTIONS
  "--grid|Start with the grid mosaic instead of the flat field."
  "--fullscreen|Start full screen on the monitor the window would open on."
  "--fullscreen=N|Start full screen on monitor N, counted from 1 in the order --list-monitors prints. A monitor that does not exist is an error."
  "--list-monitors|Print one line per monitor (number, name, position and size in device pixels, and which one is primary) and exit."
  "--control|Take commands from standard input, one a line, and write one reply line of JSON to standard output for each, once the monitor shows the new picture: the first vertical blank after the display server holds it, one refresh to scan it out (one more behind a compositing manager) and the settle time. The commands are flat, grid, level N, grid-level N, step N, keys TEXT, fullscreen, fullscreen N, window, settle N, state, check (the --check report as one reply) and quit. A reply gives the state, ms (from reading the line to the reply), shown_ms (to the frame scanned out), refresh_hz and settle_ms. A line that cannot be carried out, or a fullscreen whose window the window manager has not given the whole monitor within 10 s, is answered by an error reply."
  "--settle=MS|The panel's settle time that each reply waits after the frame is scanned out, 0 to 10000 milliseconds (default 20). Give a slow panel or a projector more."
  "--check|Show the patterns, report on standard output, one line per check, whether the display shows exactly the pixels painted (colour depth, gamma ramps, output properties and the pixels read back), and exit."
  "--help|Print a short usage text and exit."
  "--version|Print the program's name and version and exit.")

# The exit statuses, "status|when".
set(PRUVEX_EXIT_STATUSES
  "0|The window was closed, or an option that prints and exits succeeded, or every check of --check passed."
  "1|No display could be opened, or a check of --check failed."
  "2|A bad option value, such as a monitor number that does not exist or a settle time out of range, or --check could not verify something."
  "3|An internal arithmetic check failed. It cannot fail in ordinary use.")

# Examples, "command|what it does".
set(PRUVEX_EXAMPLES
  "pruvex|The flat field at level 212, keys moving it by 1."
  "pruvex 5 100|The flat field at level 100, keys moving it by 5."
  "pruvex --grid --fullscreen=2|The grid mosaic full screen on the second monitor."
  "pruvex --control --settle=40|Commands on standard input, each reply 40 ms after the frame is out.")

# pruvex-measure, the .deb's second program: its man page and its paragraph
# of the .deb's description.
set(PRUVEX_MEASURE_SUMMARY
  "measure a camera sensor's gain, read noise, full well and dynamic range from raw photographs of the grid mosaic")
set(PRUVEX_MEASURE_DESCRIPTION
  "pruvex-measure turns raw photographs of the grid mosaic into the figures of the camera's sensor by the photon transfer method: the conversion gain in electrons per DN, the read noise in DN and in electrons, the full-well capacity and the engineering dynamic range, for each ISO and each colour channel of the sensor (R, G with every green site pooled, and B, or Y on a monochrome sensor)."
  "It reads every raw format that LibRaw reads, DNG included, from Bayer, X-Trans and monochrome sensors, and takes the black levels (per channel or per site), the white level, the linearisation, the colour pattern, the ISO and the exposure time from each file. Other sensors (Foveon, four colours, images already demosaiced) are named and not measured. It groups the files by ISO and exposure time, finds the 11 x 7 mosaic in each frame (on a white margin, or filling the frame with its outer squares cut, turned by up to 2 degrees, out of focus, most of it clipped) and measures the central part of every square, leaving out squares with a pixel at or near the white level and hot or stuck pixels. Two frames of the same ISO and exposure time give the temporal noise from their difference, each row's mean difference taken out (a flickering or dimmed backlight), and every exposure time of an ISO goes into one fit. One frame alone gives a variance that includes the sensor's fixed pattern, and the report says so. Dark frames, taken with the lens capped, give the read noise. Without them the read noise is the fit's intercept. An ISO and channel with fewer than 8 squares below clipping has no figures, and the report names a shorter exposure time to shoot it again at. The files are read and measured on every core. A file named series.csv, the manifest of a series that pruvex-series shot, stands for the frames it lists: the mosaic frames, the dark frames and the flat frames. Beyond photon transfer it gives the datasheet's figures: the dark signal non-uniformity (DSNU, in electrons, at every ISO with dark pairs) and the photo-response non-uniformity (PRNU, in percent, from the flat pair nearest half of saturation), each split into row, column and pixel parts, from each site of the colour pattern as an image of its own, high-pass filtered (a 7 x 7 box, an 11 x 11 box and a 3 x 3 binomial subtracted) so that vignetting and the monitor's slow unevenness drop out; the linearity error of the flat pairs' means against the exposure time (a line weighted by 1 / mean squared between 5 % and 95 % of saturation); the level at which the frames really clip, from the pile-up of their raw values, which decides clipping, full well and dynamic range where it lies more than 0.5 % below the file's white level; the ISO at which the sensor switches to its high conversion gain (a step in the read noise in electrons below the trend of the ISOs before it); the ISOs whose raw values use only every Nth code (a digital gain); and the ISO from which the sensor is ISO-invariant."
  "Shoot the series with the monitor's brightness set on the flat field, the mosaic filling the frame without white, slightly out of focus, at 1/250 s: two frames of the mosaic and two dark frames at each ISO, and two more frames at the shorter times the report asks for.")
set(PRUVEX_MEASURE_OPTIONS
  "--csv FILE|Write one row per ISO and channel, with the columns iso, channel, frames, squares, gain_e_per_dn, read_noise_dn, read_noise_e, full_well_e, dr_ev, read_noise_from (dark or fit), dsnu_e, prnu_pct, linearity_error_pct (on the rows of the flat frames' ISO), white_dn (the white level above black), white_from (measured, or file where no frame reached clipping), gain_stage (1 below the switch to the high conversion gain, 2 from it, empty where none is found) and digital_gain (N where only every Nth code is used, else 1)."
  "--squares FILE|Write one row per ISO, exposure time, square (0 to 76) and channel, with the columns iso, exposure_s, square, channel, mean_dn, variance_dn2, pixels and clipped."
  "--plot FILE|Write the photon transfer curves (noise against signal, log-log, with the fitted lines), the dynamic range and the read noise in electrons against ISO as an SVG picture."
  "--json FILE|Write every figure as JSON: {\"camera\": {\"make\", \"model\"}, \"libraw\", \"rows\": [...]}, the camera as the raw files name it, one object per row of --csv with the CSV's column names as keys (null where the CSV's cell is empty), and beside them the row, column and pixel parts of the non-uniformities: dsnu_row_e, dsnu_column_e, dsnu_pixel_e, prnu_row_pct, prnu_column_pct and prnu_pixel_pct."
  "--report FILE|Write the report: one self-contained HTML page (nothing loaded from elsewhere, no script) that opens offline in any browser and prints on A4. It holds the camera's make and model, the date, the LibRaw version, what was shot, the table, the notes, the uniformity and the plots: the photon transfer curves, the read noise in electrons and the dynamic range against ISO (the switch to a high conversion gain dashed, ISOs with digital gain shaded), the linearity with its deviation and the signal-to-noise ratio against the signal per ISO (EMVA 1288 eq. 69, with the measured DSNU and PRNU)."
  "--compare|Take the files as JSON files that --json wrote, of one camera each, and draw read noise in electrons, dynamic range and full well against ISO for all of them in one chart, each line labelled by its camera (its green channel, or its only one): with --plot as SVG, with --report as an HTML page with each camera's table. No other output is written."
  "--dark FILE|Take FILE as a dark frame. The option may be repeated. A file in which no mosaic is found and whose whole frame lies at the black level is taken as dark without it."
  "--flat FILE|Take FILE as a flat-field frame (the flat field at level 212, two frames at each exposure time, from about 2 % of the range to beyond clipping, at one ISO). The option may be repeated. The flat frames give the PRNU and the linearity."
  "--threads N|Read and measure on N threads (1 to 256), by default one per core. The figures are the same."
  "--help|Print a short usage text and exit."
  "--version|Print the program's name and version, and the version of the LibRaw it reads raw files with, and exit.")
set(PRUVEX_MEASURE_EXIT_STATUSES
  "0|Every file was measured (an ISO and channel with too few squares below clipping is no error)."
  "1|A file could not be read, was not a raw file, was cut short, came from a sensor that is not measured, or showed no mosaic and was not dark. It is named on the error output and the other files were measured. Or an output file could not be written."
  "2|A usage error, a series manifest that cannot be read, a name with wildcards that matches no file (on Windows), or nothing to measure at all (no frame shows the mosaic, or no ISO and channel has enough squares below clipping).")
set(PRUVEX_MEASURE_EXAMPLES
  "pruvex-measure --csv sensor.csv --plot sensor.svg *.dng|Measure every DNG file of the folder, the dark frames found by their level."
  "pruvex-measure --dark cap1.nef --dark cap2.nef grid1.nef grid2.nef|One ISO: two frames of the mosaic and two dark frames named as such."
  "pruvex-measure --json nikon.json --report nikon.html nikon/series.csv|Every figure of a series as JSON, and its report."
  "pruvex-measure --compare --plot cameras.svg --report cameras.html nikon.json canon.json|Two cameras' figures against ISO in one chart.")

# pruvex-series, the .deb's third program: its man page and its paragraph of
# the .deb's description.
set(PRUVEX_SERIES_SUMMARY
  "shoot and measure a camera's whole series against the monitor in one command")
set(PRUVEX_SERIES_DESCRIPTION
  "pruvex-series runs the whole series that pruvex-measure needs. It starts pruvex --control full screen (the pruvex beside it, else the one on the PATH) and shoots each frame once the reply says that its picture is on the monitor. First the flat field at level 212, one frame at the lowest ISO at 1/30 s, with how full each channel is, so that you can set the monitor's brightness and shoot it again. Then the flat frames: the same flat field at the lowest ISO, two frames at each of the camera's shutter times (in third stops where it has them), from the time at which the fullest channel holds about 2 % of the raw range up to the first time at which more than 0.2 % of the pixels clip in every channel, at most 20 times. Then the mosaic at every ISO, two frames at 1/250 s, each checked at once by the measuring code: where fewer than 20 squares of a channel lie below clipping, two more at the next shorter time, down to the camera's shortest. Then, with the lens capped, two dark frames at each ISO and time used. A frame that is not dark is refused. Last the figures, as pruvex-measure gives them, and the report."
  "A camera on USB is driven through the gphoto2 program, with its auto-detect, get-config, set-config and capture-image-and-download calls only, so that any camera gphoto2 drives works. A camera busy for a moment is asked again for up to 30 s. Set it to manual exposure and raw files (RAW+JPEG will do). Any other camera saves into a folder through its maker's tethering program: pruvex-series says what to shoot and takes the new raw files that appear there or in its subfolders, each once it is complete."
  "Every shot's ISO and exposure time are read from its file and compared with those asked (the ISO equal, the time within a sixth of a stop). A shot that differs is moved into FOLDER/rejected and taken again once, and a second one stops the series with a line naming both settings and the likely cause (auto ISO, the mode dial). A file without ISO or time is listed with the settings asked. A series stopped by q, Ctrl-C, a failure or a crash goes on with --resume: its options are recorded in FOLDER/series-options.json, and the shots of its manifest whose files read whole are kept."
  "Prompts and progress go to standard output and answers are lines on standard input, so a script can answer as well as a person. Before each prompt the target leaves full screen, and it returns before the next shot.")
set(PRUVEX_SERIES_OPTIONS
  "--camera=gphoto2|A camera on USB through the gphoto2 program (the default)."
  "--camera=folder:DIR|The new raw files that the camera's own tethering program saves in DIR (not those there before). For each step a line such as ISO 400, 1/250 s: take 2 shots says what to shoot."
  "--iso=LIST|The ISOs, comma-separated, such as 100,400,1600. The default is the camera's numeric ISO choices in whole stops from the lowest (100 to 6400 with a folder)."
  "--fullscreen=N|The target full screen on monitor N, counted as pruvex --list-monitors counts them. Without =N, on the monitor it opens on. The target is always full screen while it is photographed."
  "--settle=MS|The panel's settle time that each reply of the target waits for, 0 to 10000 milliseconds (default 20)."
  "--no-brightness|Leave out the brightness step and the flat frames."
  "--resume|Go on with the series stopped in FOLDER, with the options it was started with. Only --camera may be given again. The shots kept are not taken again. Rows whose files are missing or cut short are dropped from series.csv and shot again."
  "--help|Print a short usage text and exit."
  "--version|Print the program's name and version and exit.")
set(PRUVEX_SERIES_EXIT_STATUSES
  "0|The series was shot and measured."
  "1|The series stopped: q, a capture that failed twice in a row (a camera unplugged), a camera that shot other settings than those asked twice, a setting the camera refused, the end of standard input, the target gone, or nothing measurable. Every file shot and series.csv up to it are kept."
  "2|A usage error, no gphoto2 program or no camera, an ISO the camera does not offer, a folder camera's DIR that does not exist, a camera that saves no raw file, no pruvex program to start, a FOLDER that cannot be written or already holds a series (go on with it with --resume), or nothing to resume."
  "130|Interrupted by Ctrl-C. Every file shot and series.csv up to it are kept.")
set(PRUVEX_SERIES_EXAMPLES
  "pruvex-series --iso=100,400,1600,6400 nikon|Shoot and measure a camera on USB at four ISOs into the folder nikon."
  "pruvex-series --camera=folder:/home/me/Tethered --no-brightness run2|Take the files of a tethering program, the brightness already set."
  "pruvex-series --resume nikon|Go on with the series stopped in nikon."
  "pruvex-measure run2/series.csv|Measure the series again from its manifest.")
