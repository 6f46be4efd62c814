"""The Python module: its API, its errors, its agreement with lumifold-cli.

The engine's own properties (fast equals literal, the formats, the
registrations' details) are the C++ tests'; these check what the module
adds: the conversions, the messages, progress and Ctrl-C, and that a merge
here is the command line's merge.
"""

import csv
import io
import json
import os
import signal
import subprocess
import threading

import numpy as np
import pytest

import lumifold

CLI = os.environ.get("LUMIFOLD_CLI", "")


def cli(*args):
    if not CLI:
        pytest.skip("LUMIFOLD_CLI does not name lumifold-cli")
    subprocess.run([CLI, *map(str, args)], check=True, capture_output=True)


def csv_shifts(path):
    with open(path, newline="") as f:
        return np.array([[int(v) for v in row[1:]] for row in csv.reader(f)], dtype=np.int32)


def small_series(frames=6, seed=3):
    return lumifold.simulate(frames=frames, width=96, height=64, seed=seed, max_shift=6)


def test_api_shapes_types_and_owned_memory():
    sim = small_series()
    assert sim.frames.shape == (6, 64, 96) and sim.frames.dtype == np.uint8
    assert sim.shifts.shape == (5, 96) and sim.noise_free.shape == (64, 96)
    result = lumifold.merge(sim.frames, "anterior-edge")
    assert result.algorithm == "anterior-edge" and result.bits == 8
    assert result.grey.dtype == np.uint8 and result.grey.shape == (64, 96)
    assert result.average.dtype == np.float32 and result.shifts.dtype == np.int32
    assert result.shifts.shape == (5, 96)
    # The grey is the average rounded half up and clamped.
    np.testing.assert_array_equal(result.grey, np.minimum(np.floor(result.average.astype(np.float64) + 0.5), 255))
    for a in (result.grey, result.average, result.shifts, sim.frames):
        assert a.flags.owndata and a.flags.writeable
    assert lumifold.SCALES == ("rainbow", "red-enhanced", "blue-enhanced", "white-on-black", "black-on-white",
                               "cirrus-like")
    picture = lumifold.colorize(result.grey, "white-on-black")
    assert picture.shape == (64, 96, 3)
    np.testing.assert_array_equal(picture, np.repeat(result.grey[:, :, None], 3, axis=2))
    np.testing.assert_array_equal(result.picture("black-on-white"), 255 - picture)


def test_any_layout_of_the_same_frames_merges_alike():
    sim = small_series()
    expected = lumifold.merge(sim.frames)
    # Reversed columns of reversed columns, a Fortran-ordered copy, a list of
    # frames, big-endian 16-bit frames of the same values times 257.
    flipped = np.ascontiguousarray(sim.frames[:, :, ::-1])[:, :, ::-1]
    fortran = np.asfortranarray(sim.frames)
    for frames in (flipped, fortran, list(sim.frames), tuple(np.array(f) for f in sim.frames)):
        got = lumifold.merge(frames)
        np.testing.assert_array_equal(got.grey, expected.grey)
        np.testing.assert_array_equal(got.shifts, expected.shifts)
    deep = lumifold.merge((sim.frames.astype(">u2") * 257))
    assert deep.bits == 16 and deep.grey.dtype == np.uint16
    np.testing.assert_array_equal(deep.grey8, expected.grey)
    np.testing.assert_array_equal(deep.shifts, expected.shifts)


@pytest.mark.parametrize("motion,floors", [
    ("global", (0.98, 0.99, 0.98, 0.99)),
    ("tilt", (0.91, 0.99, 0.45, 0.97)),
    ("mixed", (0.60, 0.97, 0.30, 0.82)),
])
def test_recovers_the_true_shifts_of_a_simulated_series(motion, floors):
    # The C++ recovery test's series and floors: 6 frames of 512 x 496, seed 11,
    # on the classic section, where the floors were measured.
    sim = lumifold.simulate(frames=6, seed=11, motion=motion, section="classic")
    interior = slice(12, 512 - 12)
    measured = []
    for algorithm in lumifold.ALGORITHMS:
        error = np.abs(lumifold.merge(sim.frames, algorithm).shifts - sim.shifts)[:, interior]
        measured += [(error == 0).mean(), (error <= 1).mean()]
    correlation_exact, correlation_one, edge_exact, edge_one = measured
    assert correlation_exact >= floors[0] and correlation_one >= floors[1]
    assert edge_exact >= floors[2] and edge_one >= floors[3]


@pytest.mark.parametrize("algorithm", ["correlation", "anterior-edge"])
def test_equals_the_command_line_from_its_files(tmp_path, algorithm):
    series = tmp_path / "series"
    cli("simulate", series, "--frames", 5, "--width", 128, "--height", 96, "--seed", 7, "-q")
    out = tmp_path / "cli"
    out.mkdir()
    cli("merge", series, "-a", algorithm, "-s", "cirrus-like", "-q", "-o", out / "colour.bmp",
        "--grey", out / "grey.png", "--average", out / "average.tif", "--shifts", out / "shifts.csv")

    from_files = lumifold.merge(series, algorithm)
    from_arrays = lumifold.merge(lumifold.read_series(series), algorithm)
    for result in (from_files, from_arrays):
        np.testing.assert_array_equal(result.grey, lumifold.read(out / "grey.png")[0])
        np.testing.assert_array_equal(result.shifts, csv_shifts(out / "shifts.csv"))
        # Written here, the pictures are the command line's byte for byte.
        mine = tmp_path / "mine"
        mine.mkdir(exist_ok=True)
        lumifold.write(mine / "colour.bmp", result.picture("cirrus-like"))
        lumifold.write(mine / "average.tif", result.average)
        lumifold.write(mine / "grey.png", result.grey)
        for name in ("colour.bmp", "average.tif", "grey.png"):
            assert (mine / name).read_bytes() == (out / name).read_bytes(), name


def test_command_line_merges_what_python_wrote_alike(tmp_path):
    sim = small_series(frames=5, seed=9)
    deep = sim.frames.astype(np.uint16) * 257
    for name, frames in (("eight", sim.frames), ("sixteen", deep)):
        folder = tmp_path / name
        folder.mkdir()
        for i, frame in enumerate(frames):
            lumifold.write(folder / f"frame_{i:03}.tif", frame, mark=False)
        cli("merge", folder, "-q", "-o", tmp_path / f"{name}.bmp", "--grey", tmp_path / f"{name}.tif",
            "--shifts", tmp_path / f"{name}.csv")
        result = lumifold.merge(frames)
        written = lumifold.read(tmp_path / f"{name}.tif")[0]
        assert written.dtype == result.grey.dtype
        np.testing.assert_array_equal(written, result.grey)
        np.testing.assert_array_equal(csv_shifts(tmp_path / f"{name}.csv"), result.shifts)


def test_read_gives_every_frame_of_a_stack(tmp_path):
    cli("simulate", tmp_path / "stack", "--frames", 4, "--width", 40, "--height", 30, "--format", "tif-stack", "-q")
    cli("simulate", tmp_path / "files", "--frames", 4, "--width", 40, "--height", 30, "-q")
    stack = lumifold.read(tmp_path / "stack" / "series.tif")
    assert stack.shape == (4, 30, 40)
    np.testing.assert_array_equal(stack, lumifold.read_series(tmp_path / "files"))
    files = sorted((tmp_path / "files").glob("*.bmp"), reverse=True)
    np.testing.assert_array_equal(lumifold.read_series(files), stack[::-1])
    np.testing.assert_array_equal(lumifold.read_series(files, sort=True), stack)


def test_wrong_input_says_what_is_wrong(tmp_path):
    frames = small_series(frames=3).frames
    not_image = tmp_path / "notes.bmp"
    not_image.write_text("not a picture")
    cases = [
        (lambda: lumifold.merge(frames.astype(np.int16)), TypeError, "frame 0 has dtype int16"),
        (lambda: lumifold.merge(frames.astype(np.float32)), TypeError, "uint8 or uint16"),
        (lambda: lumifold.merge([frames[0], frames[1].astype(np.uint16)]), TypeError, "frame 1 is 16-bit"),
        (lambda: lumifold.merge([]), ValueError, "at least one frame"),
        (lambda: lumifold.merge(frames[0]), ValueError, "2 dimensions"),
        (lambda: lumifold.merge([frames[0], frames[1], frames[2, :10]]), ValueError, "frame 2 is 10 x 96"),
        (lambda: lumifold.merge([frames[0], frames[1][None]]), ValueError, "frame 1 has 3 dimensions"),
        (lambda: lumifold.merge([frames[0], str(not_image)]), TypeError, "mixes paths and arrays"),
        (lambda: lumifold.merge(frames, "fourier"), ValueError, "'correlation', 'anterior-edge', not 'fourier'"),
        (lambda: lumifold.merge(frames, progress=3), TypeError, "callable"),
        (lambda: lumifold.merge(np.zeros((2, 1, 8), np.uint8)), ValueError, "at least 2 rows"),
        (lambda: lumifold.read(tmp_path / "missing.bmp"), FileNotFoundError, "missing.bmp"),
        (lambda: lumifold.read(tmp_path), IsADirectoryError, str(tmp_path)),
        (lambda: lumifold.read(not_image), ValueError, f"{not_image}: "),
        (lambda: lumifold.merge([not_image]), ValueError, f"{not_image}: "),
        (lambda: lumifold.read_series(tmp_path / "nothing"), FileNotFoundError, "nothing"),
        (lambda: lumifold.colorize(frames[0].astype(np.uint16)), TypeError, "grey8"),
        (lambda: lumifold.colorize(frames[0], "sepia"), ValueError, "rainbow, red-enhanced"),
        (lambda: lumifold.write(tmp_path / "a.jpg", frames[0]), ValueError, "unknown picture extension"),
        (lambda: lumifold.write(tmp_path / "a.bmp", frames[0].astype(np.uint16)), ValueError, ".png or .tif"),
        (lambda: lumifold.write(tmp_path / "a.png", np.zeros((4, 4), np.float32)), ValueError, "TIFF"),
        (lambda: lumifold.write(tmp_path / "no" / "a.png", frames[0]), OSError, "a.png"),
        (lambda: lumifold.simulate(frames=0), ValueError, "simulate"),
        (lambda: lumifold.simulate(section="easy"), ValueError, "unknown section 'easy'"),
        (lambda: lumifold.merge(frames, reject="always"), ValueError, "reject must be one of 'none', 'auto'"),
        (lambda: lumifold.merge(frames, lateral="yes"), TypeError, "lateral must be True or False, got str"),
        (lambda: lumifold.merge(frames, reference=1.5), TypeError, "reference must be an integer, got float"),
        (lambda: lumifold.merge(frames, reference=True), TypeError, "reference must be an integer, got bool"),
        (lambda: lumifold.merge(frames, algorithm=3), TypeError, "algorithm must be one of"),
        (lambda: lumifold.write(tmp_path / "a.png", frames[0], spacing="wide"), TypeError, "spacing must be"),
        (lambda: lumifold.write(tmp_path / "a.png", frames[0], spacing=-1), ValueError, "positive"),
        (lambda: lumifold.probe(not_image), ValueError, "Bitmap file not complete"),
    ]
    for call, error, text in cases:
        with pytest.raises(error) as caught:
            call()
        assert text in str(caught.value), (text, str(caught.value))
        assert "\n" not in str(caught.value) and len(str(caught.value)) < 300, str(caught.value)
    # The reason the decoders give for the file, as the command line shows it.
    with pytest.raises(ValueError, match="notes.bmp: Bitmap file not complete$"):
        lumifold.read(not_image)


def test_progress_and_interruption():
    frames = small_series(frames=30).frames
    seen = []
    lumifold.merge(frames, progress=lambda done, total: seen.append((done, total)))
    assert seen == [(i, 30) for i in range(1, 31)]

    class Bar:  # tqdm's update(n=1)
        n = 0

        def update(self, n=1):
            self.n += n

    bar = Bar()
    lumifold.merge(frames, progress=bar.update)
    assert bar.n == 30
    # A real tqdm bar (./run test installs it); a disabled bar counts nothing.
    import tqdm
    shown = io.StringIO()
    with tqdm.tqdm(total=30, file=shown, mininterval=0) as real:
        lumifold.merge(frames, progress=real.update)
        assert real.n == 30
    assert "30/30" in shown.getvalue()

    def stop(done, total):
        if done == 3:
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        lumifold.merge(frames, progress=stop)

    # SIGINT from another thread while the merge runs without the GIL: the
    # check between frames turns it into KeyboardInterrupt.
    steps = []

    def interrupt_once(done, total):
        steps.append(done)
        if done == 2:
            threading.Thread(target=os.kill, args=(os.getpid(), signal.SIGINT)).start()

    with pytest.raises(KeyboardInterrupt):
        lumifold.merge(frames, progress=interrupt_once)
    assert steps[-1] < 30
    # Nothing is left behind: the next merge runs as ever.
    assert lumifold.merge(frames).shifts.shape == (29, 96)


def test_quality_rejection_reference_and_slips():
    # Classic: on the calibrated section, at 160 x 128, the other section and the dropout are kept.
    sim = lumifold.simulate(frames=12, width=160, height=128, seed=5, max_shift=6,
                            bad=["blink", "section", "dropout"], lateral_slip=4, section="classic")
    assert len(sim.bad_frames) == 3 and {kind for _, kind in sim.bad_frames} == {"blink", "section", "dropout"}
    bad = sorted(i for i, _ in sim.bad_frames)
    assert sim.lateral_shifts.shape == (12,) and sim.lateral_shifts[0] == 0

    plain = lumifold.merge(sim.frames)
    assert plain.frame_quality == () and plain.image_quality is None

    result = lumifold.merge(sim.frames, reject="auto", reference="auto", lateral=True)
    assert sorted(result.dropped) == bad
    assert result.reference not in result.dropped
    assert len(result.frame_quality) == 11
    assert result.shifts.shape == (11, 160)
    for q in result.frame_quality:
        assert q["kept"] == (q["frame"] not in bad)
        assert (q["reason"] is None) == q["kept"]
        assert np.isnan(q["edgeShare"]) and q["peakRatio"] > 0
    good = [i for i in range(12) if i not in bad]
    slips = result.lateral_shifts[good]
    assert np.mean(slips == sim.lateral_shifts[good]) >= 0.9
    figures = result.image_quality
    assert figures["snrGainDb"] == pytest.approx(
        figures["average"]["snrDb"] - figures["reference"]["snrDb"])
    assert figures["snrGainDb"] > 5

    # Rejection alone, on frames that do not slip, merges exactly the good ones.
    still = lumifold.simulate(frames=12, width=160, height=128, seed=5, max_shift=6,
                              bad=["blink", "section", "dropout"], section="classic")
    kept = lumifold.merge(still.frames, reject="auto")
    assert sorted(kept.dropped) == bad
    alone = lumifold.merge(still.frames[good])
    assert np.array_equal(kept.grey, alone.grey)

    # Measuring alone changes nothing.
    measured = lumifold.merge(sim.frames, quality=True)
    assert np.array_equal(measured.grey, plain.grey) and np.array_equal(measured.shifts, plain.shifts)
    assert measured.dropped == () and len(measured.frame_quality) == 11

    with pytest.raises(ValueError, match="reject"):
        lumifold.merge(sim.frames, reject="always")
    with pytest.raises(ValueError, match="reference 12"):
        lumifold.merge(sim.frames, reference=12)
    with pytest.raises(ValueError, match="bad frame 'wink'"):
        lumifold.simulate(frames=4, width=64, height=48, bad=["wink"])


def test_numpy_arguments_spacing_floats_and_version(tmp_path):
    sim = small_series(frames=4)
    # numpy's integers and booleans mean what Python's do.
    chosen = lumifold.merge(sim.frames, reference=np.int64(2), reject=np.bool_(True), lateral=np.False_)
    assert chosen.reference == 2
    assert np.array_equal(chosen.grey, lumifold.merge(sim.frames, reference=2, reject="auto").grey)
    assert lumifold.__version__.count(".") == 2
    if CLI:
        assert subprocess.run([CLI, "--version"], capture_output=True, text=True).stdout.split() == [
            "lumifold-cli", lumifold.__version__]

    # A single number is square spacing; a merge of files carries theirs on.
    lumifold.write(tmp_path / "square.tif", sim.frames[0], spacing=0.01, mark=False)
    info = lumifold.probe(tmp_path / "square.tif")
    assert info.spacing == pytest.approx((0.01, 0.01)) and info.software is None and info.frames == 1
    for i in range(1, 4):
        lumifold.write(tmp_path / f"square_{i}.tif", sim.frames[i], spacing=0.01, mark=False)
    merged = lumifold.merge(tmp_path)
    assert merged.spacing == pytest.approx((0.01, 0.01))
    assert lumifold.merge(sim.frames).spacing is None
    lumifold.write(tmp_path / "grey.png", merged.grey, spacing=merged.spacing)
    assert lumifold.probe(tmp_path / "grey.png").software.startswith("Lumifold ")

    # The merge's own pictures in the folder are left out with a warning.
    with pytest.warns(UserWarning, match="grey.png: a picture Lumifold"):
        again = lumifold.merge(tmp_path)
    assert np.array_equal(again.grey, merged.grey)

    # The unrounded average reads back as float32 values.
    lumifold.write(tmp_path / "mean.tiff", merged.average)
    info = lumifold.probe(tmp_path / "mean.tiff")
    assert info.floating_point and info.bits == 32
    back = lumifold.read(tmp_path / "mean.tiff")
    assert back.dtype == np.float32 and back.shape == (1, *merged.average.shape)
    np.testing.assert_array_equal(back[0], merged.average)

    # Simulation is a frozen dataclass, as MergeResult, and still unpacks.
    frames, shifts, noise_free, bad, lateral = sim
    assert frames is sim.frames and bad == ()
    with pytest.raises(AttributeError):
        sim.frames = None


def test_merge_volume_pages_are_merges_and_the_stack_is_calibrated(tmp_path):
    from PIL import Image

    cli("simulate", tmp_path / "v", "--positions", 3, "--repeats", 4, "--layout", "interleaved",
        "--width", 64, "--height", 48, "-q")
    frames = lumifold.read(tmp_path / "v" / "volume.tif")
    done = []
    result = lumifold.merge_volume(tmp_path / "v" / "volume.tif", repeats=np.int64(4), layout="interleaved",
                                   reject="auto", progress=lambda d, t: done.append((d, t)))
    assert result.volume.shape == (3, 48, 64) and result.enface.shape == (3, 64) and done[-1] == (3, 3)
    for p in range(3):
        alone = lumifold.merge(frames[[p, 3 + p, 6 + p, 9 + p]], reject="auto")
        np.testing.assert_array_equal(result.volume[p], alone.grey)
        mine = result.results[p]
        np.testing.assert_array_equal(mine.shifts, alone.shifts)
        np.testing.assert_array_equal(mine.average, alone.average)
        assert mine.dropped == alone.dropped and mine.image_quality["snrGainDb"] == alone.image_quality["snrGainDb"]
        assert [(q["frame"], q["correlation"]) for q in mine.frame_quality] == \
            [(q["frame"], q["correlation"]) for q in alone.frame_quality]
    # The command line writes the same pages and en-face view, aligned too.
    cli("volume", tmp_path / "v" / "volume.tif", "--repeats", 4, "--layout", "interleaved", "--reject", "auto",
        "-o", tmp_path / "cli.tif", "--enface", tmp_path / "enface.tif", "--align-sideways",
        "--report", tmp_path / "r.json", "-q")
    aligned = lumifold.merge_volume(frames, repeats=4, layout="interleaved", reject="auto", align_sideways=True)
    np.testing.assert_array_equal(lumifold.read(tmp_path / "cli.tif"), aligned.volume)
    np.testing.assert_array_equal(lumifold.read(tmp_path / "enface.tif")[0], aligned.enface)
    report = json.loads((tmp_path / "r.json").read_text())
    assert report["alignment"] == list(aligned.offsets) and report["lateralAlignment"] == list(aligned.lateral_offsets)
    with pytest.raises(ZeroDivisionError):
        lumifold.merge_volume(frames, repeats=4, progress=lambda d, t: 1 / 0)

    # Another reader sees P pages and the spacing ImageJ's header gives.
    lumifold.write(tmp_path / "out.tif", result.volume, spacing=(0.01, 0.004, 0.05))
    with Image.open(tmp_path / "out.tif") as stack:
        assert stack.n_frames == 3
        description = stack.tag_v2[270]
        assert "slices=3" in description and "unit=mm" in description and "spacing=0.05" in description
        assert float(stack.tag_v2[282]) == pytest.approx(100.0)
    info = lumifold.probe(tmp_path / "out.tif")
    assert info.frames == 3 and info.spacing == pytest.approx((0.01, 0.004))
    with pytest.raises(ValueError, match="12 frames do not divide into 5 repeats"):
        lumifold.merge_volume(frames, repeats=5)
    with pytest.raises(ValueError, match="pass 1: holds 3 frames, one pass is 4 positions"):
        lumifold.merge_volume([frames[:4], frames[4:7], frames[7:]], repeats=3, layout="per-file")


def test_speckle_filter_is_the_command_lines_and_says_how_much(tmp_path):
    series = tmp_path / "series"
    cli("simulate", series, "--frames", 4, "--width", 128, "--height", 96, "--seed", 7, "-q")
    cli("merge", series, "-q", "-o", tmp_path / "merged.bmp", "--grey", tmp_path / "grey.png", "--denoise=1.5")
    filtered = lumifold.merge(lumifold.read_series(series), denoise=1.5)
    np.testing.assert_array_equal(filtered.grey, lumifold.read(tmp_path / "grey.png")[0])
    f = filtered.speckle_filter
    assert f["filter"] == "nl-means" and f["strength"] == 1.5 and f["frameNoise"] > 0
    assert f["after"]["snrDb"] > f["before"]["snrDb"]
    plain = lumifold.merge(series)
    assert plain.speckle_filter is None and not np.array_equal(plain.grey, filtered.grey)
    assert lumifold.merge(series, denoise=True).speckle_filter["strength"] == 1.0
    volume = lumifold.merge_volume(lumifold.read_series(series), repeats=2, denoise=True)
    assert all(r.speckle_filter["strength"] == 1.0 for r in volume.results)
    with pytest.raises(ValueError, match="from 0 to 10"):
        lumifold.merge(series, denoise=10.5)
    with pytest.raises(TypeError, match="denoise"):
        lumifold.merge(series, denoise="strong")
