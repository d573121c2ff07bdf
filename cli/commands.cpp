#include "cli/commands.h"

#include <cstdio>

#include "app/settings.h"

namespace mr4::cli {
namespace {

const Command kCommands[] = {
    {"init", "create a home directory with PROF/ and the shipped data files",
     "usage: mr4 init [DIR]      (or: mr4 --home DIR init)\n"
     "\n"
     "Creates DIR (default: the current directory), its PROF/ directory and\n"
     "a copy of every shipped data file (leap-second table, shower\n"
     "catalogue, ...) that is not there yet; files already there are kept.\n"
     "Prints one line per file or directory created. The shipped data are\n"
     "taken from ../share/mr4 next to the program, else from the source\n"
     "tree's data/.\n",
     RunInit, false, true},
    {"table", "print the rows of one of the program's tables",
     "usage: mr4 [--home DIR] table NAME [--csv] [--all]\n"
     "\n"
     "Prints the existing rows of the table NAME after start-up: MR4_DIR.csv,\n"
     "Qorx_LSec.csv, MR4_EClass.csv, the shower catalogue's name (setting\n"
     "AP.catalog, default V14.jx.csv), OBJ or CLIP. The first column is the\n"
     "row index; then the persisted columns, or every column with --all.\n"
     "Aligned columns, or comma-separated values with --csv.\n",
     RunTable},
    {"settings", "print and change the settings file MR4_PARAM.MRA",
     "usage: mr4 [--home DIR] settings [--get KEY]... [--set KEY=VALUE]...\n"
     "\n"
     "Applies the --set values, then prints KEY=VALUE for the keys named by\n"
     "--get and --set (every key the file holds, in file order, when none\n"
     "is named). The settings are written to MR4_PARAM.MRA at exit; a\n"
     "refused command (unknown key, value that does not parse) writes\n"
     "nothing. Keys are given exactly as stored, trailing blank included\n"
     "(quote them in the shell). Integers print with %d, floats with the\n"
     "shortest text that reads back to the same value, texts as they are.\n",
     RunSettings},
    {"sky", "convert a sky position between ra/dec and az/ev for a site and time",
     "usage: mr4 [--home DIR] sky --site LNG,LAT[,ALT] --time 'YYYY-MM-DD hh:mm:ss'\n"
     "                            [--tz SECONDS] (--radec RA,DEC | --azel AZ,EL)\n"
     "\n"
     "The time is the local clock time; --tz is the zone offset in seconds\n"
     "east of UT (local minus UT, default 0), as a clip record holds it.\n"
     "LNG is east longitude, LAT north latitude (degrees); ALT (metres) is\n"
     "accepted as a profile holds it and enters none of these values.\n"
     "--radec gives a J2000 position, --azel an azimuth (from north through\n"
     "east) and a true elevation, in degrees. Prints one name=value per line:\n"
     "  mjd_utc, mjd_tt     the instant as MJD in UTC and in TT\n"
     "  lst                 local mean sidereal time, degrees\n"
     "  solar_longitude     the Sun's longitude (J2000 ecliptic), degrees\n"
     "  az, ev, ra, dec     the position in both systems (mean place, J2000,\n"
     "                      precession only, no refraction), degrees\n"
     "  ev_apparent         ev raised by refraction (constant 58.3\")\n"
     "Dates must lie in the years 1900 to 2099.\n",
     RunSky},
    {"dirs", "list and change the clip directories (MR4_DIR.csv)",
     "usage: mr4 [--home DIR] dirs [list]\n"
     "       mr4 [--home DIR] dirs add DIR [--profile FILE] [--save-dir DIR] [--ymd]\n"
     "       mr4 [--home DIR] dirs use N on|off\n"
     "       mr4 [--home DIR] dirs remove N\n"
     "\n"
     "Lists the rows of the clip-directory table, numbered from 1, or changes\n"
     "it: 'add' appends DIR with use on (a relative DIR is taken from the home\n"
     "directory; FILE names a profile in PROF/, which is created; --ymd sorts\n"
     "moved clips into dated save directories); 'use' switches row N on or\n"
     "off for the scan; 'remove' deletes row N. Texts holding a comma or a\n"
     "line end are refused: the table file cannot keep them. The table is\n"
     "written at exit; every action prints the rows.\n",
     RunDirs},
    {"scan", "read the clip directories and print the clip table",
     "usage: mr4 [--home DIR] scan [--range all|range|latest]\n"
     "                             [--from 'YYYY-MM-DD HH'] [--days N]\n"
     "                             [--csv] [--columns a,b,...]\n"
     "\n"
     "Scans every clip directory whose row is in use (see 'mr4 dirs') and\n"
     "prints one line per clip. The date range options change the settings\n"
     "AP.dirrange, AP.Y, AP.M, AP.D, AP.H and AP.days, which are kept: 'all'\n"
     "takes every clip, 'range' the clips from the start hour for N days\n"
     "(both ends included), 'latest' the last N days up to the start hour\n"
     "(its start date is recomputed from the clock). Clips without a date in\n"
     "their name are only taken with 'all'. The columns are those the clip\n"
     "list shows (layout UC of the settings) in its number formats, or the\n"
     "CLIP columns named by --columns; --csv prints comma-separated values\n"
     "with a header line. The last line is 'N clips'.\n",
     RunScan},
    {"profile", "show or change a camera profile file in PROF/",
     "usage: mr4 [--home DIR] profile show FILE\n"
     "       mr4 [--home DIR] profile set FILE name=value...\n"
     "\n"
     "FILE is a file name in the home's PROF/ directory, or a path. show prints\n"
     "the profile's fields as name=value lines, by their attribute names (cx,\n"
     "lng, az, ev, rot, vx, yx, dx, dy, k4, k3, k2, maxLev, dapix, lid, ...);\n"
     "fields the file lacks show the detection defaults, or 0. set changes the\n"
     "named fields and writes the file back (a new file starts from the\n"
     "current profile of the settings), then prints the fields it set.\n"
     "Integers and floats must be whole numbers of their kind.\n",
     RunProfile},
    {"calibrate", "fit the camera profile of clips to the stars of their masks",
     "usage: mr4 [--home DIR] calibrate [--blind] [--save-profile FILE] [CLIP...]\n"
     "\n"
     "Scans the clip directories, then for each CLIP named (every checked clip\n"
     "when none is) fits its profile to the stars of its mask picture (N.BMP,\n"
     "else the capture mask M.BMP): finds the mask stars, searches the\n"
     "pointing within 12 deg in az and ev and 6 deg in rot of the recorded\n"
     "one, links the stars, adjusts the pointing, then the whole profile (the\n"
     "fit switches AP.p_vxON etc. of the settings), and calibrates the\n"
     "magnitudes. Prints the pointing search's move, the match summary before\n"
     "and after the fit, the photometry line and the fitted az, ev, rot, vx,\n"
     "yx, dx, dy, k4, k3, k2. --save-profile writes the fitted profile to FILE\n"
     "(a file name in PROF/, or a path). A fit that ends with fewer than 6\n"
     "linked stars or a mean residual above 3 px, or a mask of more than 1000\n"
     "mask stars, is a failed calibration: 'CLIP: calibration failed: why',\n"
     "and nothing is saved. --blind first finds the pointing from the stars\n"
     "alone: the profile's az, ev and rot are not used, its vx only as the\n"
     "field width to within 20 %; prints 'blind solve: az .. ev .. rot ..\n"
     "vx ..' with the stars matched, or 'CLIP: no solution: N stars found,\n"
     "...'. Exits 2 when a clip could not be calibrated or solved, also when\n"
     "the profile file of its directory cannot be read.\n",
     RunCalibrate},
    {"analyze", "analyse clips: star fit, detection, reduction, result files",
     "usage: mr4 [--home DIR] analyze [--no-star-fit] [SCAN RANGE] CLIP...\n"
     "       mr4 [--home DIR] analyze [--no-star-fit] [SCAN RANGE] [--threads N]\n"
     "         [--unclassified-only]\n"
     "\n"
     "SCAN RANGE: --range all|range|latest, --from 'YYYY-MM-DD HH', --days N,\n"
     "as for 'mr4 scan'.\n"
     "\n"
     "Without CLIP: analyses every checked clip with a video in parallel, on\n"
     "N + 1 slots (N: the setting gPAN, or --threads N for this run, 1 to 8\n"
     "and at most what the free memory allows). Clips the own reader decodes\n"
     "are spread over the storage devices; the others run one after the other\n"
     "through the replay graph. --unclassified-only takes only clips whose\n"
     "class is empty or marked '_'. A clip without a mask picture (N.BMP,\n"
     "M.BMP) or with an invalid profile is skipped and named; one whose\n"
     "directory's profile file cannot be read fails. A clip whose star fit\n"
     "fails (as in 'mr4 calibrate') is analysed with its recorded pointing,\n"
     "its result file gets errm=-2, and the summary counts and names it\n"
     "('calibration failed'). A terminal shows\n"
     "the progress; otherwise a line per finished clip. Ctrl-C stops: the\n"
     "running clips write what they have; a second Ctrl-C ends at once. Ends\n"
     "with a summary: clips analysed, skipped and failed, meteors by class and\n"
     "shower, elapsed time and fields per second. Exits 2 when a clip failed,\n"
     "a calibration failed or the run was stopped.\n"
     "\n"
     "With CLIP:\n"
     "Scans the clip directories, then analyses each CLIP named: fits the\n"
     "camera profile to the stars of the clip's mask picture (N.BMP, else the\n"
     "capture mask M.BMP), then finds, tracks and measures the objects of its\n"
     "video, classifies them, associates meteors with showers and writes the\n"
     "clip's result file. A clip without a mask picture is analysed with the\n"
     "empty mask. --no-star-fit analyses with the clip's recorded profile.\n"
     "Prints one line per clip and one per object: class, magnitude, duration\n"
     "[s], start velocity [deg/s], start and end (ra, dec) [deg], and for\n"
     "shower members dr [deg], dv [%], Vo [km/s]; 'CLIP: calibration failed:\n"
     "why' after a failed star fit. Exits 2 when a clip or its calibration\n"
     "failed.\n",
     RunAnalyze},
    {"simulate", "write synthetic clips of the real sky (one clip, or a night)",
     "usage: mr4 [--home DIR] simulate --out DIR [--profile FILE]\n"
     "         --time 'YYYY-MM-DD hh:mm:ss' [--shower CODE | --radiant RA,DEC]\n"
     "         [--speed KMS] [--mag-peak M] [--duration S]\n"
     "         [--object meteor|flash|slow|curve|none]\n"
     "         [--format yuy2|uyvy|dib8|dib24|dib32] [--interlaced] [--bbf]\n"
     "         [--frames N] [--head N] [--tail N] [--fisheye]\n"
     "         [--clock-error SECONDS] [--suffix TEXT] [--seed N]\n"
     "       mr4 [--home DIR] simulate --night --out DIR --date YYYY-MM-DD\n"
     "         [--clips N] [same camera and rendering options]\n"
     "\n"
     "Writes the clip set the capture program writes (.avi, .xml capture\n"
     "record, M.BMP mask, P.BMP still, T.jpg thumbnail) plus _truth.json with\n"
     "what was simulated, for the camera of FILE (a name in PROF/ or a path;\n"
     "default the current profile). --time is the true local trigger time;\n"
     "--clock-error shifts the recorded time against it. A meteor comes from\n"
     "the radiant of shower CODE at that date (default a sporadic radiant).\n"
     "--night writes N clips (default 10) from dusk to dawn of the evening of\n"
     "DATE: shower members, sporadics, flashes, slow objects, empty triggers.\n"
     "The same options and seed give the same bytes. One line per clip.\n",
     RunSimulate},
    {"import", "make clips of videos from other cameras",
     "usage: mr4 [--home DIR] import FILE --to DIR --time 'YYYY-MM-DD hh:mm:ss'\n"
     "         (--site LNG,LAT,ALT | --profile FILE) [--tz SECONDS]\n"
     "         [--station LID_SID]\n"
     "       mr4 [--home DIR] import FILE... --to DIR --from-name PATTERN ...\n"
     "\n"
     "Writes each video into the clip directory DIR as the capture program\n"
     "writes a clip triggered at its time (the station's local clock): the\n"
     "video as MYYYYMMDD_hhmmss.avi and its capture record .xml with the\n"
     "frame size, rate and count read from the video, the site, the zone\n"
     "(--tz, local clock minus UT in seconds) and the station. --profile\n"
     "FILE (a name in PROF/ or a path) gives the site, zone, station, camera\n"
     "and lens; the other options override it. An AVI is copied as it is;\n"
     "another container is remuxed into AVI without decoding when avimux\n"
     "takes its video codec, and FLV1 video of an FLV file is rewritten\n"
     "into AVI chunks; otherwise the file 'cannot be remuxed' and is\n"
     "left out. --time takes one file; --from-name reads each file's time\n"
     "from its name: %Y (4 digits), %m %d %H %M %S (2 digits), %% a percent\n"
     "sign, other characters themselves, matched anywhere in the name (e.g.\n"
     "'%Y%m%d_%H%M%S'). An existing clip of the same name is left alone.\n"
     "One line per clip: FILE, clip, size, fps, frames, codec, copied or\n"
     "remuxed. Exits 2 when a file was not imported.\n",
     RunImport},
    {"move", "move the checked clips into their save directories, or into DIR",
     "usage: mr4 [--home DIR] [--yes] move [CLIP...]\n"
     "       mr4 [--home DIR] [--yes] move --to DIR [--targets LIST] [CLIP...]\n"
     "\n"
     "Scans the clip directories and moves the files of every checked clip (of\n"
     "the CLIPs named, when any are) into the save directory of its clip\n"
     "directory row, into dated folders YYYY/YYYYMM/YYYYMMDD of the night when\n"
     "the row has +ymd (a clip before noon belongs to the day before), then\n"
     "runs the after-move command when AP.moveendC is set. With --to the\n"
     "clips go into DIR instead; --targets restricts them as the switches of\n"
     "the 'Move files' dialog do: a comma-separated list of interval (names\n"
     "holding '='), unclassified (class empty or '__...'), eclass (classes\n"
     "marked 'target' in MR4_EClass.csv). A file already at the target is\n"
     "replaced only after the question is answered (--yes answers it); a\n"
     "file is never moved onto itself, and across file systems it is copied,\n"
     "flushed and checked before the source is removed. Ends with a new scan\n"
     "and one line: clips, files, MB moved, failed, skipped. Exits 2 when a\n"
     "file could not be moved.\n",
     RunMove},
    {"copy", "copy the checked clips into DIR",
     "usage: mr4 [--home DIR] [--yes] copy --to DIR [--targets LIST] [CLIP...]\n"
     "\n"
     "As 'mr4 move --to DIR', copying: the sources stay. Each copy is written\n"
     "to a temporary name in DIR, flushed and renamed into place, so a file\n"
     "it replaces is never lost half-way. Exits 2 when a file failed.\n",
     RunCopy},
    {"trash", "delete the files of the checked clips by the trash settings",
     "usage: mr4 [--home DIR] [--yes] trash [--targets LIST] [CLIP...]\n"
     "\n"
     "Scans the clip directories and removes every file of each checked clip\n"
     "(of the CLIPs named, when any are): with AP.trashdir into the 'Trash'\n"
     "folder of the clip's directory (a file already there is kept; the new\n"
     "one gets a suffix .~N~), else with AP.usetrash into the desktop trash\n"
     "(where that trash cannot take a file, into the 'Trash' folder), else\n"
     "deleted. --targets acts as the 'Move files' dialog's 'Delete clip\n"
     "files': target clips (interval, unclassified, eclass) lose all files,\n"
     "the others only their thumbnail (thumbnails) or result file (results).\n"
     "Ends with a new scan and one summary line; exits 2 when a file stayed.\n",
     RunTrash},
    {"clean", "remove empty dated folders from the clip directories",
     "usage: mr4 [--home DIR] [--yes] clean\n"
     "\n"
     "In every clip directory in use, removes the empty sub-folders whose\n"
     "names begin with '20' (one level per run: a folder emptied by this run\n"
     "goes in the next) and deletes the files named 'Thumb.db' on the way,\n"
     "and the hidden '.NAME.mr4part-*' files a killed move or analysis left\n"
     "there and in the save directories.\n"
     "Only empty folders are removed; links are not followed; the clip\n"
     "directory itself stays. Prints 'deleted N directories , M files'.\n",
     RunClean},
    {"delete-results", "delete the result files (A.XML) of the checked clips",
     "usage: mr4 [--home DIR] [--yes] delete-results [CLIP...]\n"
     "\n"
     "Scans the clip directories and removes the result file of each checked\n"
     "clip (of the CLIPs named, when any are) by the trash settings, as\n"
     "'mr4 trash' does. Ends with a new scan and one summary line.\n",
     RunDeleteResults},
    {"export-csv", "write the meteor summary CSV of the scanned clips",
     "usage: mr4 [--home DIR] [--yes] export-csv [--ctrl-variant] [--with-report]\n"
     "                                            [--out DIR]\n"
     "\n"
     "Scans the clip directories and writes one line per analysed object (the\n"
     "objects of the result files, except classes __none, __noise, __fast,\n"
     "__slow and __curve) into M<date>_<hour>_<days>_<lid>_<sid>.csv in\n"
     "AP.outdir (the documents folder when that does not exist) or DIR: 48\n"
     "columns, the station's position only in scrambled form. lid and sid are\n"
     "the current profile's; the name ends with _<lid>.csv when clips of other\n"
     "stations are among them. --ctrl-variant writes the Ctrl variant (first\n"
     "column ending in X, the scrambled columns arranged otherwise);\n"
     "--with-report writes the period report first and replaces existing files\n"
     "without asking, as the Alt key does. Otherwise an existing file is\n"
     "replaced only after the question is answered (--yes).\n",
     RunExportCsv},
    {"report", "write the period report of the scanned clips' objects",
     "usage: mr4 [--home DIR] [--yes] report [--out DIR]\n"
     "\n"
     "Scans the clip directories and writes the period report over every\n"
     "object with a class into M<date>_<hour>_<days>_<lid>_<sid>R.csv (with\n"
     "objects of two stations or more: ..._<lid>R.csv) in AP.outdir or DIR:\n"
     "the period, meteors and e-class objects per station, hourly and\n"
     "magnitude counts per class, and the objects in time order. An existing\n"
     "file is replaced only after the question is answered (--yes).\n",
     RunReport},
    {"export-objects", "write every object of the scanned clips with the listed columns",
     "usage: mr4 [--home DIR] [--yes] export-objects [--out DIR]\n"
     "\n"
     "Scans the clip directories and writes OBJ<yyyymmdd>.csv (the date of the\n"
     "first clip) into AP.outdir or DIR: one line per object of every clip,\n"
     "the clip's cells followed by the object's, in the columns the utilities\n"
     "page's lists show (layouts UC5 and UO5 of the settings) and their\n"
     "number formats. An existing file is replaced only after the question is\n"
     "answered (--yes).\n",
     RunExportObjects},
    {"export-frames", "write every meteor's per-frame measurements (CSV or FTPdetectinfo)",
     "usage: mr4 [--home DIR] [--yes] export-frames --format csv|ftpdetectinfo\n"
     "           [--range all|range|latest] [--from 'YYYY-MM-DD HH'] [--days N] [--out DIR]\n"
     "\n"
     "Scans the clip directories (the range options as for 'mr4 scan') and\n"
     "writes the samples of every meteor (an object whose class does not begin\n"
     "with \"_\") of the clips with a result file: time (UTC), frame and field,\n"
     "x, y, azimuth, elevation, RA and Dec (J2000), magnitude, with the\n"
     "station's longitude, latitude and altitude, lid and sid, and the camera.\n"
     "One file per station and night (the local date 12 hours before the\n"
     "trigger) in AP.outdir or DIR: --format csv writes\n"
     "frames_<lid>_<sid>_<yyyymmdd>.csv (columns in docs/frames-export.md, one\n"
     "line per sample in time order), --format ftpdetectinfo writes\n"
     "FTPdetectinfo_<station>_<yyyymmdd>.txt for trajectory solvers. An\n"
     "existing file is replaced only after the question is answered (--yes).\n"
     "Exits 2 when a result file could not be read or a file not written.\n",
     RunExportFrames},
    {"time-adjust", "shift the recorded start time of clips",
     "usage: mr4 [--home DIR] [--yes] time-adjust --shift SECONDS CLIP...\n"
     "\n"
     "Scans the clip directories and moves the start time of each CLIP named\n"
     "by SECONDS (negative: earlier), across midnight and month ends as\n"
     "needed: in its result file A.XML, its capture record .xml and its line\n"
     "in the capture logs C*.csv of its directory. Only the time values change\n"
     "in these files. The question is answered by --yes. Ends with a new scan\n"
     "and one summary line; exits 2 when a file could not be changed.\n",
     RunTimeAdjust},
    {"groundmap", "make a ground-map base map (DAT) from the shipped land polygons",
     "usage: mr4 groundmap --center LNG,LAT --half-field DEG --size WxH\n"
     "         --out FILE.DAT [--land FILE]\n"
     "\n"
     "Rasterises the land polygons (default: land/land-50m.txt of the shipped\n"
     "data) in the gnomonic projection about LNG,LAT [deg], DEG being the\n"
     "angle from the centre to the left or right edge, and writes a W x H\n"
     "base map (land 1, sea 0) to FILE.DAT. The centre and field are stored\n"
     "to 1/10000 degree. Prints the file, its size and its land pixels.\n"
     "Exits 2 on a bad option or a file that cannot be read or written.\n"
     "\n"
     "usage: mr4 [--home DIR] groundmap --render --out FILE.png [SCAN RANGE]\n"
     "\n"
     "Scans the clip directories (SCAN RANGE as for 'mr4 scan'), switches\n"
     "every scanned clip's objects on for the maps and draws the ground map\n"
     "of the home's base map (setting AP.g_map; an empty sea about the\n"
     "station when it cannot be read) with the fields of view of the current\n"
     "profile and of every profile in PROF/, the ground tracks and the\n"
     "labels, as the Ground Map page draws them with the settings' zoom,\n"
     "offsets and switches: 1024 x 768 pixels, written as PNG to FILE.png\n"
     "(a relative name is taken in the home, where the command runs). Exits\n"
     "1 on a bad option, 2 when the file cannot be written.\n",
     RunGroundMap, false, false, "--render"},
    {"trailmap", "write the trail map of the scanned clips' objects as PNG",
     "usage: mr4 [--home DIR] trailmap --out FILE.png [SCAN RANGE]\n"
     "\n"
     "Scans the clip directories (SCAN RANGE as for 'mr4 scan'), switches\n"
     "every scanned clip's objects on for the maps and draws the trail map\n"
     "as the Trail Map page does, about the settings' chart centre, rotation\n"
     "and scale with their switches, for the date of the first clip: 1024 x\n"
     "768 pixels, written as PNG to FILE.png (a relative name is taken in\n"
     "the home, where the command runs). Exits 1 on a bad option, 2 when the\n"
     "file cannot be written.\n",
     RunTrailMap},
    {"trajectory", "pair the meteors of several stations and solve their trajectories",
     "usage: mr4 [--home DIR] trajectory [SCAN RANGE] [--window S] [--out DIR]\n"
     "\n"
     "Scans the clip directories (SCAN RANGE as for 'mr4 scan') and pairs the\n"
     "meteor objects of different stations (lid_sid of the clip) whose time\n"
     "spans meet within S seconds (default 2, 0 .. 60) and whose planes of\n"
     "sight meet at 20 .. 200 km with at least 1 deg of convergence; three or\n"
     "more stations join one meteor. Each meteor's frames are read from the\n"
     "result files and solved for its trajectory, radiants, speeds and orbit.\n"
     "Writes trajectories.csv (one line per solved meteor) and a detail file\n"
     "T<yyyymmdd>_<hhmmss>_<ms>.csv per solved meteor into DIR (default: the\n"
     "export folder AP.outdir), replacing files of the same names. Meteors\n"
     "that cannot be solved are listed with the reason. Exits 0 when the files\n"
     "were written (also with failed meteors), 1 on a bad option, 2 when a\n"
     "file cannot be written.\n",
     RunTrajectory},
    {"peak-hold", "write the peak-hold picture of a clip's video",
     "usage: mr4 [--home DIR] [--yes] peak-hold CLIP [--interval N] [--out FILE]\n"
     "\n"
     "Scans the clip directories and steps the video of CLIP through the\n"
     "replay graph, holding every N-th frame (the setting AP.peakf, which\n"
     "--interval changes and keeps; 1 .. 1000): each byte of the picture is\n"
     "the largest of that byte over the frames held. Writes the picture as a\n"
     "24-bit bitmap to FILE, by default the clip's own <clip>P.BMP, which\n"
     "then becomes the clip's peak-hold still. An existing file is replaced\n"
     "only after the question is answered (--yes). Prints the file, the\n"
     "frames seen and held. Exits 2 when the clip has no video or the\n"
     "picture could not be written.\n",
     RunPeakHold},
    {"meteor-picture", "write an analysed clip's still with its meteor and light curve as PNG",
     "usage: mr4 [--home DIR] meteor-picture CLIP --out FILE.png [--object N]\n"
     "\n"
     "Scans the clip directories and draws the analysed clip CLIP (a clip\n"
     "name, or the path of the clip or of one of its files): its peak-hold\n"
     "still (P.BMP, else P.JPG; made from the clip's video as 'mr4\n"
     "peak-hold' makes it when the clip has none) with the catalogue stars\n"
     "of the field through the clip's camera, every object's fitted trail\n"
     "(dashed, numbered) and its detections, and beside it the light curve\n"
     "of object N of the clip (default: its brightest meteor), magnitude\n"
     "against seconds from the object's first sample. Written as PNG to\n"
     "FILE.png (a relative name is taken in the home, where the command\n"
     "runs). Exits 1 on a bad option or an unknown clip, 2 when the clip has\n"
     "no result file or no such object, or the file cannot be written.\n",
     RunMeteorPicture},
};

}  // namespace

std::span<const Command> Commands() { return kCommands; }

int ExitStatus(int status, int declined) {
  return status == kExitOk && declined > 0 ? kExitDeclined : status;
}

int UsageError(const CommandContext& context, const std::string& message) {
  // A refused command leaves the settings file as it was.
  KeepSettingsFileUnchanged();
  std::fprintf(stderr, "mr4 %s: %s\n(see 'mr4 %s --help')\n",
               context.name.c_str(), message.c_str(), context.name.c_str());
  return kExitUsage;
}

int RefusedValue(const CommandContext& context, const std::string& message) {
  KeepSettingsFileUnchanged();
  std::fprintf(stderr, "mr4 %s: %s; nothing was written\n", context.name.c_str(),
               message.c_str());
  return kExitUsage;
}

}  // namespace mr4::cli
