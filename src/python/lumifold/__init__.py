"""Lumifold for Python: register and average a series of OCT B-scans.

The engine of ``lumifold-cli merge``, taking and giving numpy arrays::

    import lumifold
    frames = lumifold.read("scan.tif")          # (n, height, width) uint8/uint16
    result = lumifold.merge(frames)             # registers frames 1.. to frame 0
    result.grey                                 # the average as --grey writes it
    lumifold.write("merged.png", lumifold.colorize(result.grey8, "rainbow"))

Results are plain numpy arrays that own their memory. A merge releases the
GIL and stops at Ctrl-C (KeyboardInterrupt) between frames.
"""

from __future__ import annotations

import inspect
import numbers
import operator
import os
from dataclasses import dataclass, fields
from typing import Any, Callable, Dict, Iterator, Optional, Sequence, Tuple, Union

import numpy as np

from . import _lumifold

__all__ = [
    "ALGORITHMS",
    "SCALES",
    "FileInfo",
    "MergeResult",
    "Simulation",
    "VolumeResult",
    "colorize",
    "merge",
    "merge_volume",
    "probe",
    "read",
    "read_series",
    "simulate",
    "write",
]

#: The release, as ``lumifold-cli --version`` gives it.
__version__: str = _lumifold.VERSION

#: The colour scales' names, for :func:`colorize` (the command line's ``--scale``).
SCALES: Tuple[str, ...] = tuple(_lumifold.SCALES)
#: The registrations' names, for :func:`merge` (the command line's ``--algorithm``).
ALGORITHMS: Tuple[str, ...] = tuple(_lumifold.ALGORITHMS)

PathLike = Union[str, "os.PathLike[str]"]
Frames = Union[np.ndarray, Sequence[np.ndarray], Sequence[PathLike], PathLike]
Progress = Callable[..., object]


@dataclass(frozen=True, eq=False)
class MergeResult:
    """What :func:`merge` gives.

    Attributes:
        grey: the rounded average exactly as ``lumifold-cli merge --grey``
            writes it to PNG or TIFF: ``uint8`` for an 8-bit series,
            ``uint16`` for a 16-bit one; ``(height, width)``.
        grey8: the 8-bit merged image the coloured picture is made from (for
            an 8-bit series the same array as ``grey``; for a 16-bit one the
            average through the 8-bit view the reference fixes).
        average: the unrounded mean of the registered frames, ``float32``, in
            the frames' own units (0 to 255 or 0 to 65535), as ``--average``
            writes it.
        shifts: ``(n - 1, width)`` ``int32``: row ``i`` holds the whole-row
            shift of every column of frame ``i + 1`` (adding frame row
            ``y - s`` to reference row ``y`` lines them up).
        bits: the frames' depth, 8 or 16.
        algorithm: the registration used.
        spacing: (millimetres per column, per row) of the first file, as
            the command line keeps it in its pictures; None for arrays and
            for files that state none. Pass it to :func:`write`.

    When frame quality was measured (``quality=True``, or any of
    ``reject``, ``reference``, ``lateral``; docs/quality.md):

        reference: the reference's index among the frames (0 unless
            chosen); ``shifts`` then has a row for every other frame, in
            order.
        dropped: the indices of the frames rejection left out.
        frame_quality: one dict per frame but the reference, in order,
            with the keys of ``--report``'s ``frameQuality`` entries (the
            same spelling, so one reader serves both): ``frame``, ``kept``,
            ``reason`` (None when kept), ``correlation``,
            ``profileCorrelation``, ``relativeIntensity``, ``weakestBand``,
            ``keptShare``, ``peakRatio``, ``edgeShare``, ``replacedShare``
            (NaN where the registration has none) and ``lateralShift``.
        lateral_shifts: ``(n,)`` ``int32``: each frame's sideways slip
            (0 for the reference, and everywhere without ``lateral``).
        image_quality: ``{"average": {...}, "reference": {...},
            "snrGainDb": ..., "regions": {...}}`` as the report's
            ``imageQuality``, each figure dict with ``snrDb``, ``cnr``,
            ``enl``, ``tissueMean``, ``tissueDeviation``,
            ``backgroundMean``, ``backgroundDeviation``.

    Otherwise these keep their defaults (``frame_quality`` empty,
    ``image_quality`` None).

    When the speckle filter ran (``denoise``; docs/denoise.md), ``grey``,
    ``grey8`` and ``average`` are the filtered picture and

        speckle_filter: ``{"filter": ..., "strength": ..., "frameNoise":
            ..., "before": {...}, "after": {...}}``, the report's
            ``speckleFilter``: the figure dicts of the plain average and of
            the filtered picture as in ``image_quality``.

    Otherwise it is None.
    """

    grey: np.ndarray
    grey8: np.ndarray
    average: np.ndarray
    shifts: np.ndarray
    bits: int
    algorithm: str
    reference: int = 0
    dropped: Tuple[int, ...] = ()
    frame_quality: Tuple[Dict[str, Any], ...] = ()
    lateral_shifts: Optional[np.ndarray] = None
    image_quality: Optional[Dict[str, Any]] = None
    spacing: Optional[Tuple[float, float]] = None
    speckle_filter: Optional[Dict[str, Any]] = None

    def picture(self, scale: str = "rainbow") -> np.ndarray:
        """The coloured picture, ``(height, width, 3)`` ``uint8``, as ``--output`` writes it.

        >>> lumifold.write("merged.bmp", result.picture("cirrus-like"))
        """
        return colorize(self.grey8, scale)

    def __repr__(self) -> str:
        h, w = self.grey.shape
        return (f"MergeResult({self.shifts.shape[0] + 1} frames of {w} x {h}, {self.bits}-bit, "
                f"algorithm={self.algorithm!r})")


@dataclass(frozen=True, eq=False)
class Simulation:
    """What :func:`simulate` gives.

    Attributes:
        frames: ``(n, height, width)`` ``uint8``: the simulated B-scans.
        shifts: ``(n - 1, width)`` ``int32``: the true shifts of frames 1 to
            n - 1, in the convention of :attr:`MergeResult.shifts`.
        noise_free: ``(height, width)`` ``float64``: the expected grey value of
            every pixel of frame 0, what a perfect average converges to.
        bad_frames: the inserted bad frames as (index, kind), by index.
        lateral_shifts: ``(n,)`` ``int32``: each frame's sideways slip.
    """

    frames: np.ndarray
    shifts: np.ndarray
    noise_free: np.ndarray
    bad_frames: Tuple[Tuple[int, str], ...] = ()
    lateral_shifts: Optional[np.ndarray] = None

    def __iter__(self) -> Iterator[Any]:
        # Unpacks as the tuple it used to be: frames, shifts, noise_free, ...
        return (getattr(self, f.name) for f in fields(self))

    def __repr__(self) -> str:
        n, h, w = self.frames.shape
        return f"Simulation({n} frames of {w} x {h}, bad_frames={self.bad_frames!r})"


@dataclass(frozen=True)
class FileInfo:
    """What :func:`probe` finds in a file's headers, without reading pixels.

    Attributes:
        format: "BMP", "PNG", "TIFF" or "DICOM".
        width, height: every frame's size.
        frames: pages of a TIFF, frames of a DICOM, 1 otherwise.
        bits: 8 or 16, the depth frames are read at; 32 for a
            floating-point TIFF (an average, which :func:`read` returns as
            float32 and :func:`merge` refuses as a frame).
        significant_bits: bits in use where the file says (12 in 16).
        colour: whether the file holds colour (read as grey).
        floating_point: 32-bit float values.
        spacing: (millimetres per column, per row), or None where the file
            states none (a TIFF's 72 or 96 dpi placeholder counts as none).
        modality: DICOM's modality, or None.
        software: the program that wrote the file, where it says, or None.
    """

    format: str
    width: int
    height: int
    frames: int
    bits: int
    significant_bits: int
    colour: bool
    floating_point: bool
    spacing: Optional[Tuple[float, float]]
    modality: Optional[str]
    software: Optional[str]


@dataclass(frozen=True, eq=False)
class VolumeResult:
    """What :func:`merge_volume` gives.

    Attributes:
        volume: ``(P, height, width)``: page p is ``merge(...)``'s ``grey``
            for position p's frames, as ``lumifold-cli volume`` writes it
            (after alignment when asked).
        enface: ``(P, width)``: every page's column means over the slab's
            rows, rounded half up (``--enface``).
        positions: the positions merged, in order.
        results: one :class:`MergeResult` per position (frame quality,
            figures, shifts).
        offsets: each page's whole-row alignment offset, rows moved down
            (all 0 without ``align_positions``).
        spacing: (mm per column, per row, between positions); each None
            where unknown (the step between positions comes from an ImageJ
            stack's header or DICOM's Spacing Between Slices). Pass it to
            :func:`write` with the volume.
        lateral_offsets: each page's whole-column sideways alignment offset
            (column x of the page shows column x - offset of the merge; all
            0 without ``align_sideways``).
    """

    volume: np.ndarray
    enface: np.ndarray
    positions: Tuple[int, ...]
    results: Tuple[MergeResult, ...]
    offsets: Tuple[int, ...]
    spacing: Tuple[Optional[float], Optional[float], Optional[float]]
    lateral_offsets: Tuple[int, ...] = ()


def _denoise_text(denoise: Union[None, bool, float]) -> str:
    if denoise is None or denoise is False:
        return ""
    if denoise is True:
        return "default"
    if isinstance(denoise, (np.bool_,)):
        return "default" if denoise else ""
    if isinstance(denoise, (int, float, np.integer, np.floating)):
        return repr(float(denoise))
    raise TypeError(f"denoise is None, True or a strength, not {type(denoise).__name__}")


def _is_path(x: object) -> bool:
    return isinstance(x, (str, os.PathLike))


# Arguments are checked here, in one line each, before the engine sees them:
# numpy's integers and booleans are what numpy users pass.
def _flag(name: str, value: object) -> bool:
    if isinstance(value, (bool, np.bool_)):
        return bool(value)
    raise TypeError(f"{name} must be True or False, got {type(value).__name__}")


def _integer(name: str, value: object) -> int:
    if not isinstance(value, (bool, np.bool_)):
        try:
            return operator.index(value)
        except TypeError:
            pass
    raise TypeError(f"{name} must be an integer, got {type(value).__name__}")


def _choice(name: str, value: object, choices: Sequence[str]) -> str:
    if not isinstance(value, str):
        raise TypeError(f"{name} must be one of {', '.join(map(repr, choices))}, got {type(value).__name__}")
    if value not in choices:
        raise ValueError(f"{name} must be one of {', '.join(map(repr, choices))}, not {value!r}")
    return value


def _spacing(value: object) -> Tuple[float, float]:
    if value is None:
        return (0.0, 0.0)
    pair = (value, value) if isinstance(value, numbers.Real) else value
    try:
        x, y = pair  # type: ignore[misc]
        x, y = float(x), float(y)
    except (TypeError, ValueError):
        raise TypeError("spacing must be millimetres per pixel, one number or (per column, per row), "
                        f"got {value!r}") from None
    if not (x > 0 and y > 0 and np.isfinite(x) and np.isfinite(y)):
        raise ValueError(f"spacing must be positive millimetres, got {value!r}")
    return (x, y)


def _progress_callable(progress: Optional[Progress]) -> Optional[Callable[[int, int], object]]:
    # A callable of two arguments gets (done, total); one of a single argument,
    # such as tqdm's update, gets the increment.
    if progress is None:
        return None
    if not callable(progress):
        raise TypeError(f"progress must be callable, got {type(progress).__name__}")
    try:
        signature = inspect.signature(progress)
    except (TypeError, ValueError):
        return progress
    try:
        signature.bind(0, 0)
        return progress
    except TypeError:
        pass
    try:
        signature.bind(1)
    except TypeError:
        raise TypeError("progress must take (done, total), or one increment like tqdm's update") from None
    return lambda done, total: progress(1)


def merge(frames: Frames, algorithm: str = "correlation", progress: Optional[Progress] = None, *,
          sort: bool = False, reject: Union[str, bool] = "none", reference: Union[None, str, int] = None,
          lateral: bool = False, quality: bool = False,
          denoise: Union[None, bool, float] = None) -> MergeResult:
    """Register every frame to the reference (frame 0 unless chosen) and average them.

    Args:
        frames: a 3-D array ``(n, height, width)``, a sequence of 2-D arrays,
            or a sequence of image files and folders (or one of them), taken
            as ``lumifold-cli merge`` takes them: every frame of every file,
            folders' image files in name order. Arrays are ``uint8`` or
            ``uint16``, any strides; lent to the engine, which copies each
            frame only when it reaches it.
        algorithm: ``"correlation"`` or ``"anterior-edge"`` (:data:`ALGORITHMS`).
        progress: called after the reference and after each further frame,
            with ``(done, total)``; a callable of one argument, such as a
            ``tqdm`` bar's ``update``, is called with the increment 1.
        sort: for files, sort the whole list by name first (``--sort``).
        reject: ``"auto"`` (or True) leaves out the frames the series does
            not agree with, never the reference (``--reject auto``);
            ``"none"`` (or False) averages every frame.
        reference: ``"auto"`` registers to the frame most like the others,
            an index (numpy integers too) to that frame, None to frame 0
            (``--reference``).
        lateral: find and undo each frame's whole-pixel sideways slip first
            (``--lateral``).
        quality: measure frame quality and the image-quality figures even
            with the three options off (they measure anyway).
        denoise: filter the speckle of the registered frames
            (``--denoise``): True at the default strength, a number from 0
            to 10 at that strength; None or False (the default) merges
            without it.

    Returns:
        a :class:`MergeResult`: the same images and shifts as
        ``lumifold-cli merge`` writes for these frames.

    Raises:
        TypeError: a dtype other than uint8 or uint16; an option of the
            wrong type (one line naming it).
        ValueError: no frames, a wrong number of dimensions, frames of
            different sizes (naming the frame), a file the decoders refuse
            (naming the file and the reason), an unknown algorithm.
        OSError: a file that cannot be opened.
        KeyboardInterrupt: Ctrl-C during the merge.

    Example:
        >>> sim = lumifold.simulate(frames=8)
        >>> result = lumifold.merge(sim.frames, "correlation")
        >>> result.grey.shape, result.shifts.shape
        ((496, 512), (7, 512))
    """
    callback = _progress_callable(progress)
    algorithm = _choice("algorithm", algorithm, ALGORITHMS)
    if isinstance(reject, (bool, np.bool_)):
        reject = "auto" if reject else "none"
    reject = _choice("reject", reject, ("none", "auto"))
    if reference is not None and not isinstance(reference, str):
        reference = _integer("reference", reference)
    elif isinstance(reference, str):
        reference = _choice("reference", reference, ("auto",))
    sort = _flag("sort", sort)
    options = dict(quality=_flag("quality", quality), reject=reject, reference=reference,
                   lateral=_flag("lateral", lateral), denoise=_denoise_text(denoise))
    if _is_path(frames):
        frames = [frames]
    if isinstance(frames, np.ndarray):
        if frames.ndim != 3:
            raise ValueError(f"frames has {frames.ndim} dimensions; merge takes a 3-D array "
                             "(n, height, width) or a sequence of 2-D frames")
        return MergeResult(**_lumifold.merge_arrays(list(frames), algorithm, callback, **options))
    try:
        items = list(frames)
    except TypeError:
        raise TypeError("frames must be a 3-D array, a sequence of 2-D arrays or a sequence of paths, "
                        f"got {type(frames).__name__}") from None
    if not items:
        raise ValueError("merge needs at least one frame, got none")
    paths = [_is_path(x) for x in items]
    if all(paths):
        return MergeResult(**_lumifold.merge_files([os.fspath(x) for x in items], algorithm, callback, sort,
                                                   **options))
    if any(paths):
        raise TypeError("frames mixes paths and arrays")
    return MergeResult(**_lumifold.merge_arrays([np.asarray(x) for x in items], algorithm, callback, **options))


_LAYOUTS = ("grouped", "interleaved", "per-file")


def merge_volume(frames: Frames, *, repeats: Optional[int] = None, positions: Optional[int] = None,
                 layout: str = "grouped", algorithm: str = "correlation", reject: Union[str, bool] = "none",
                 reference: Union[None, str, int] = None, lateral: bool = False, quality: bool = False,
                 position_range: Optional[Sequence[int]] = None, align_positions: bool = False,
                 align_sideways: bool = False, slab: Optional[Tuple[int, int]] = None,
                 progress: Optional[Progress] = None, denoise: Union[None, bool, float] = None) -> VolumeResult:
    """Average a volume of P positions scanned R times: every position merged as :func:`merge` merges it.

    The engine of ``lumifold-cli volume``: positions are merged several at
    a time on the cores, the GIL released. ``frames`` is a
    ``(P * R, height, width)`` array or what :func:`merge` takes; for
    ``layout="per-file"`` a sequence of R files, folders or arrays, each one
    pass of P frames. Layouts as ``lumifold-cli volume``: "grouped" (repeat
    r of position p is frame ``p * R + r``), "interleaved" (frame
    ``r * P + p``), "per-file". Give ``repeats`` or ``positions``.
    ``reference`` is the repeat within each position (or "auto"); the
    other options are :func:`merge`'s, for every position.
    ``position_range`` merges only those positions (ascending, each once).
    ``align_positions`` lines neighbouring pages up by a whole-row axial
    offset, ``align_sideways`` (which implies it) also by a whole-column
    sideways one. ``progress`` is called with (positions done, positions);
    Ctrl-C stops between positions. ``slab=(top, bottom)`` restricts the
    en-face mean to those rows.

    >>> sim = lumifold.read("volume.tif")                  # 8 positions x 5 repeats
    >>> v = lumifold.merge_volume(sim, repeats=5, layout="interleaved")
    >>> lumifold.write("averaged.tif", v.volume, spacing=v.spacing)
    """
    layout = _choice("layout", layout, _LAYOUTS)
    algorithm = _choice("algorithm", algorithm, ALGORITHMS)
    if isinstance(reject, (bool, np.bool_)):
        reject = "auto" if reject else "none"
    reject = _choice("reject", reject, ("none", "auto"))
    if isinstance(reference, str):
        reference = _choice("reference", reference, ("auto",))
    elif reference is not None:
        reference = _integer("reference", reference)
    if (repeats is None) == (positions is None):
        raise ValueError("give repeats or positions (one of them)")
    name = "repeats" if repeats is not None else "positions"
    given = _integer(name, repeats if repeats is not None else positions)
    if given < 1:
        raise ValueError(f"{name} must be at least 1, got {given}")
    chosen = ""
    if position_range is not None:
        numbers = [_integer("position", p) for p in position_range]
        if not numbers or min(numbers) < 0:
            raise ValueError("position_range lists positions numbered from 0")
        chosen = ",".join(map(str, numbers))
    span = ""
    if slab is not None:
        top, bottom = slab
        span = f"{_integer('slab top', top)}:{_integer('slab bottom', bottom)}"
    request = _lumifold.VolumeRequest(
        repeats=given if repeats is not None else 0, positions=given if positions is not None else 0,
        layout=layout, algorithm=algorithm, reject=reject, reference=reference, lateral=_flag("lateral", lateral),
        quality=_flag("quality", quality), denoise=_denoise_text(denoise), position_range=chosen,
        align=_flag("align_positions", align_positions), sideways=_flag("align_sideways", align_sideways),
        slab=span)
    callback = _progress_callable(progress)

    def arrays(stacks: Sequence[np.ndarray], passes: Sequence[int]) -> Dict[str, Any]:
        for a in stacks:
            if a.ndim != 3:
                raise ValueError(f"a volume's frames are (n, height, width), got {a.ndim} dimensions")
        return _lumifold.merge_volume_arrays([f for a in stacks for f in a], list(passes), request, callback)

    if layout == "per-file":
        if _is_path(frames) or isinstance(frames, np.ndarray):
            raise TypeError("per-file takes a sequence of R files, folders or arrays, one pass each")
        items = list(frames)
        if items and all(_is_path(x) for x in items):
            out = _lumifold.merge_volume_files([os.fspath(x) for x in items], request, callback)
        else:
            stacks = [read_series([os.fspath(x)]) if _is_path(x) else np.asarray(x) for x in items]
            out = arrays(stacks, [len(a) for a in stacks])
    elif isinstance(frames, np.ndarray):
        out = arrays([frames], [])
    else:
        items = [frames] if _is_path(frames) else list(frames)
        if not items:
            raise ValueError("merge_volume needs at least one frame, got none")
        paths = [_is_path(x) for x in items]
        if all(paths):
            out = _lumifold.merge_volume_files([os.fspath(x) for x in items], request, callback)
        elif any(paths):
            raise TypeError("frames mixes paths and arrays")
        else:
            out = _lumifold.merge_volume_arrays([np.asarray(x) for x in items], [], request, callback)
    return VolumeResult(out["volume"], out["enface"], out["positions"],
                        tuple(MergeResult(**r) for r in out["results"]), out["offsets"], out["spacing"],
                        out["lateral_offsets"])


def read(path: PathLike) -> np.ndarray:
    """Every frame of one image file as an ``(n, height, width)`` array.

    BMP, PNG, TIFF (every page) and DICOM (every frame), recognised by
    their content; ``uint8``, or ``uint16`` for 16-bit files, ``float32``
    for a floating-point TIFF such as ``--average`` writes. Colour is
    turned to grey as the merge sees it. The file's pixel spacing is
    :func:`probe`'s.

    Raises ``OSError`` for a file that cannot be opened, ``ValueError``
    ("PATH: reason") for one the decoders refuse.

    >>> frames = lumifold.read("scan.tif")
    >>> frames.shape, frames.dtype
    ((100, 496, 512), dtype('uint8'))
    """
    return _lumifold.read(os.fspath(path))


def probe(path: PathLike) -> FileInfo:
    """What a file holds, from its headers alone: a :class:`FileInfo`.

    Raises as :func:`read` does.

    >>> info = lumifold.probe("scan.dcm")
    >>> info.frames, info.spacing
    (40, (0.0117, 0.0039))
    """
    return FileInfo(**_lumifold.probe(os.fspath(path)))


def read_series(paths_or_folder: Union[PathLike, Sequence[PathLike]], *, sort: bool = False) -> np.ndarray:
    """Every frame of several files, in the command line's order, as one array.

    Each folder gives its image files (by extension: .bmp, .png, .tif, .tiff,
    .dcm, any case) in name order, case-insensitive; files keep the order
    given unless ``sort`` sorts the whole list. Every file must match the
    first one's size and depth.

    >>> frames = lumifold.read_series("scans/")      # frame_000.bmp, frame_001.bmp, ...
    >>> frames = lumifold.read_series(["a.png", "b.png"])
    """
    inputs = [paths_or_folder] if _is_path(paths_or_folder) else list(paths_or_folder)
    return _lumifold.read_series([os.fspath(p) for p in inputs], sort)


def colorize(grey: np.ndarray, scale: str = "rainbow") -> np.ndarray:
    """The coloured picture of an 8-bit grey image, ``(height, width, 3)`` ``uint8``.

    ``scale`` is one of :data:`SCALES`, the command line's ``--scale``.

    >>> rgb = lumifold.colorize(result.grey8, "red-enhanced")
    """
    return _lumifold.colorize(np.asarray(grey), scale)


def write(path: PathLike, image: np.ndarray, *,
          spacing: Union[None, float, Tuple[float, float]] = None, mark: bool = True) -> None:
    """Write an image in the format of the path's extension, as the command line writes it.

    - 2-D ``uint8``: grey, as ``--grey`` (.bmp 24-bit grey, .png and .tif 8-bit);
    - 2-D ``uint16``: 16-bit grey, .png or .tif;
    - ``(height, width, 3)`` ``uint8``: colour, as ``--output``;
    - 2-D ``float32``/``float64``: a 32-bit floating-point TIFF, as ``--average``;
    - ``(P, height, width)`` ``uint8``/``uint16``: a volume, as ``lumifold-cli
      volume`` writes it (TIFF, ImageJ's calibration from ``spacing``
      ``(x, z, y)``, :attr:`VolumeResult.spacing`).

    ``spacing`` is (millimetres per column, per row), or one number for
    square pixels, kept in PNG and TIFF; a merge's is ``result.spacing``.
    An existing file is replaced only once the new one is complete. PNG and
    TIFF pictures carry this program's mark, so a later folder merge leaves
    them out (name them to merge them); ``mark=False`` writes frames that a
    folder merge is to take.

    >>> lumifold.write("grey.png", result.grey, spacing=result.spacing)
    >>> lumifold.write("average.tif", result.average)
    """
    image = np.asarray(image)
    if image.ndim == 3 and image.shape[2] != 3:
        # A volume: (P, height, width) as lumifold-cli volume writes it,
        # with spacing (per column, per row, between positions).
        if not str(path).lower().endswith((".tif", ".tiff")):
            raise ValueError(f"{path}: a volume is written as a TIFF stack (.tif or .tiff)")
        if isinstance(spacing, (tuple, list)) and len(spacing) == 3:
            x, z, y = (0.0 if v is None else float(v) for v in spacing)
        else:
            (x, z), y = _spacing(spacing), 0.0
        _lumifold.write_volume(os.fspath(path), image, x, z, y)
        return
    x, y = _spacing(spacing)
    _lumifold.write(os.fspath(path), image, x, y, _flag("mark", mark))


def simulate(frames: int = 8, width: int = 512, height: int = 496, seed: int = 1, max_shift: Optional[int] = None,
             motion: str = "mixed", noise: float = 1.0, *, bad: Sequence[str] = (),
             lateral_slip: int = 0, section: str = "calibrated") -> Simulation:
    """A simulated B-scan series with its true shifts, as ``lumifold-cli simulate`` makes it.

    ``max_shift`` (rows) defaults to 12, or height // 2 when smaller;
    ``motion`` is "none", "global", "tilt", "jitter" or "mixed"; ``noise``
    the detector noise floor (1 typical, 0 none). ``bad`` inserts one bad
    frame per kind listed ("blink", "section", "lateral", "dropout", as
    ``--bad``), listed in ``bad_frames`` as (index, kind); ``lateral_slip``
    slips every frame but the first sideways by up to that many columns,
    each frame's slip in ``lateral_shifts``. ``section`` is "calibrated"
    (the statistics of real foveal scans: a noisy vitreous, faint lateral
    structure, grainy speckle) or "classic" (the earlier, easier section, as
    ``--section``). The same parameters give the same series on every
    machine.

    >>> sim = lumifold.simulate(frames=8, seed=1)
    >>> result = lumifold.merge(sim.frames)
    >>> (abs(result.shifts - sim.shifts) <= 1).mean() > 0.8
    True
    """
    frames, width, height, seed = (_integer(n, v) for n, v in
                                   (("frames", frames), ("width", width), ("height", height), ("seed", seed)))
    if max_shift is None:
        max_shift = min(12, height // 2)
    max_shift, lateral_slip = _integer("max_shift", max_shift), _integer("lateral_slip", lateral_slip)
    if not isinstance(noise, numbers.Real) or isinstance(noise, (bool, np.bool_)):
        raise TypeError(f"noise must be a number, got {type(noise).__name__}")
    if isinstance(bad, str):
        bad = [bad]
    return Simulation(*_lumifold.simulate(frames, width, height, seed, max_shift, motion, float(noise), list(bad),
                                          lateral_slip, section))
