"""Dravo2's layer model from Python: parameters, hysteresis loops as numpy arrays, the import of
measured curves, the misfit and the fit. Fields in A/m unless a key says kA/m."""

from os import PathLike
from typing import Any, Iterator, Literal, Mapping, Sequence

import numpy as np
import numpy.typing as npt

__version__: str

class Error(Exception):
    """An error of the program, with its message."""

class ConversionError(Error, ValueError):
    """A value that does not convert, as a typed field."""

class FloatingPointError(Error, ArithmeticError):
    """A loop's step met an invalid operation, a division by zero or an overflow."""

    result: LoopResult  # the rows before the failing step

class FileError(Error, OSError):
    """A file that cannot be read or written, or a bad data row."""

class UnknownKeyError(KeyError, AttributeError):
    """A key that names no parameter; the message names the nearest valid key."""

class Parameters:
    """Every parameter of the model and the sweep, as the commands' KEY=VALUE words."""

    M1: float  # magnetisation of layer 1, T
    M2: float  # magnetisation of layer 2, T
    M3: float  # magnetisation of layer 3, T
    M4: float  # magnetisation of layer 4, T
    t1: float  # thickness of layer 1, m
    t2: float  # thickness of layer 2, m
    t3: float  # thickness of layer 3, m
    t4: float  # thickness of layer 4, m
    K1: float  # anisotropy constant of layer 1, J/m^3
    K2: float  # anisotropy constant of layer 2, J/m^3
    K3: float  # anisotropy constant of layer 3, J/m^3
    K4: float  # anisotropy constant of layer 4, J/m^3
    axis1: int  # anisotropy axis of layer 1, deg
    axis2: int  # anisotropy axis of layer 2, deg
    axis3: int  # anisotropy axis of layer 3, deg
    axis4: int  # anisotropy axis of layer 4, deg
    field_angle: int  # direction of the field, deg
    J1: float  # bilinear coupling of layers 1 and 2, J/m^2
    J2: float  # bilinear coupling of layers 2 and 3, J/m^2
    J3: float  # bilinear coupling of layers 3 and 4, J/m^2
    Jbq1: float  # biquadratic coupling of layers 1 and 2, J/m^2
    Jbq2: float  # biquadratic coupling of layers 2 and 3, J/m^2
    bias: float  # exchange bias (unidirectional anisotropy) of layer 4, J/m^2
    DR: float  # magnetoresistance amplitude, %
    start: float  # initial field, kA/m
    steps: int  # number of field steps
    step: float  # field step, kA/m
    noise: float  # amplitude of the noise kick before each relaxation, rad
    conv: float  # convergence threshold on the scaled gradient, per rad
    maxiter: int  # iteration budget of each relaxation
    aniso: str  # form of the anisotropy: uniaxial or quartic (UA or QU)
    solver: str  # relaxation of each step (descent or newton)
    gamma: float  # gyromagnetic ratio of the resonance modes, rad/(s T)

    def __init__(self, **values: float | int | str) -> None: ...
    def __getattr__(self, key: str) -> float | int | str: ...
    def __setattr__(self, key: str, value: float | int | str) -> None: ...
    def __getitem__(self, key: str) -> float | int | str: ...
    def __setitem__(self, key: str, value: float | int | str) -> None: ...
    def __contains__(self, key: str) -> bool: ...
    def __iter__(self) -> Iterator[str]: ...
    def __len__(self) -> int: ...
    def keys(self) -> list[str]:
        """Every key, in the order of dravo2-sweep --help."""
    def to_dict(self) -> dict[str, float | int | str]: ...
    def text(self, key: str) -> str:
        """The value as the KEY=VALUE word gives it."""
    def describe(self, key: str) -> dict[str, Any]:
        """Unit, meaning, default (text), value, choices and default fit bounds of a key."""
    def copy(self) -> Parameters: ...
    @staticmethod
    def from_file(path: str | PathLike[str]) -> Parameters:
        """The defaults with the KEY=VALUE words of a file set."""
    def to_file(self, path: str | PathLike[str]) -> None:
        """Every key as a KEY=VALUE line."""

class StopFlag:
    """Stops the loops it is given to (run_loop's stop) once set, from any thread."""

    def set(self) -> None: ...
    def clear(self) -> None: ...
    def is_set(self) -> bool: ...

class LoopResult:
    """The rows of a loop; each observable a read-only view of the loop's own memory."""

    @property
    def field(self) -> npt.NDArray[np.float64]:
        """A/m"""
    @property
    def projection(self) -> npt.NDArray[np.float64]:
        """T, the thickness-weighted magnetisation along x (or y)"""
    @property
    def theta(self) -> npt.NDArray[np.float64]:
        """rows x 4, rad; 0 for a layer of no thickness"""
    @property
    def magnetoresistance(self) -> npt.NDArray[np.float64]:
        """(1 - cos(theta1 - theta2)) DR / 2"""
    @property
    def resonance(self) -> npt.NDArray[np.float64]:
        """Hz, of layer 1; -1 where there is none"""
    @property
    def energy(self) -> npt.NDArray[np.float64]:
        """J/m^2 after each step's relaxation"""
    @property
    def iterations(self) -> npt.NDArray[np.float64]:
        """relaxation iterations of each step"""
    @property
    def branch(self) -> npt.NDArray[np.int32]:
        """branch of each row, from 1 as in the CSV table"""
    @property
    def modes(self) -> npt.NDArray[np.float64]:
        """rows x 4: every resonance mode (Hz, ascending, NaN where none), with modes=True; else 0 x 4"""
    def resonance_fields(self, frequency: float) -> list[tuple[int, int, float]]:
        """(branch, mode, field in A/m) where a mode passes frequency (Hz); needs modes=True"""
    @property
    def total_iterations(self) -> int: ...
    @property
    def end(self) -> str:
        """'completed', 'stopped' or 'floating-point error'"""
    @property
    def error(self) -> str: ...
    def to_table(self) -> npt.NDArray[np.float64]:
        """rows x 8: H (A/m), M (T), theta1..theta4 (rad), dR, f (Hz)"""
    def __len__(self) -> int: ...

def run_loop(
    p: Parameters,
    *,
    start: float | None = None,
    step: float | None = None,
    steps: int | None = None,
    reverse: bool | int | None = None,
    solver: Literal["newton", "descent"] | None = "newton",
    seed: int | None = None,
    initial: Literal["saturated"] | Sequence[float] = "saturated",
    fields: npt.ArrayLike | None = None,
    along: Literal["x", "y"] = "x",
    stop: StopFlag | None = None,
    modes: bool = False,
) -> LoopResult:
    """A hysteresis loop: start and step in A/m (default p.start, p.step in kA/m), one reversed
    branch unless reverse says otherwise; or one row per field of `fields` (A/m)."""

class Curve:
    """A measured curve: field (A/m), moment, sigma (or None)."""

    def __init__(
        self,
        field: npt.ArrayLike,
        moment: npt.ArrayLike,
        sigma: npt.ArrayLike | None = None,
        moment_unit: float = 0.0,
    ) -> None: ...
    @property
    def field(self) -> npt.NDArray[np.float64]: ...
    @property
    def moment(self) -> npt.NDArray[np.float64]: ...
    @property
    def sigma(self) -> npt.NDArray[np.float64] | None: ...
    moment_unit: float  # A m^2 (1e-3 for emu), 0 where unknown
    report: str
    def __len__(self) -> int: ...

def import_curve(
    path: str | PathLike[str],
    *,
    columns: str | tuple[int | str, int | str] | None = None,
    field_unit: Literal["A/m", "kA/m", "Oe", "mT", "T"] | None = None,
    sigma: int | str | None = None,
    rows: Literal["thin", "first"] = "thin",
    moment_unit: Literal["emu", "Am2"] | None = None,
) -> Curve: ...

class Misfit:
    valid: bool
    reason: str
    misfit: float  # NaN where there is none
    scale: float
    slope: float  # moment per A/m
    offset: float
    scale_fixed: bool
    half_range: float
    chi_square: float | None
    degrees_of_freedom: int
    degenerate: str
    covered: int
    total: int
    residuals: npt.NDArray[np.float64]  # sum(residuals**2) == misfit**2
    points: npt.NDArray[np.int32]
    def __float__(self) -> float: ...

def misfit(
    result: LoopResult,
    curve: Curve,
    *,
    background: Literal["slope", "offset", "both"] | None = None,
    area: float | str | None = None,
) -> Misfit: ...

class FitResult:
    values: dict[str, float]
    errors: dict[str, float | None]
    at_bound: dict[str, bool]
    correlation: npt.NDArray[np.float64]
    misfit_before: float | None
    misfit: float | None
    chi_square: float | None
    degrees_of_freedom: int
    scale: float
    slope: float
    offset: float
    degenerate: str
    evaluations: int
    seconds: float
    stopped: str
    interrupted: bool
    not_compared: bool
    no_misfit: str
    parameters: Parameters
    loop: LoopResult | None
    summary: str

def fit(
    curve: Curve,
    p: Parameters,
    *,
    free: Sequence[str],
    bounds: Mapping[str, tuple[float, float]] = ...,
    background: Literal["slope", "offset", "both"] | None = None,
    area: float | str | None = None,
    evals: int = 2000,
    time: float | None = None,
    threads: int = 0,
    seed: int = 1,
    solver: Literal["newton", "descent"] = "newton",
    step: float | None = None,
) -> FitResult: ...

def scan(
    p: Parameters,
    *,
    grid: Mapping[str, tuple[float, float, int] | str],
    curve: Curve | None = None,
    background: Literal["slope", "offset", "both"] | None = None,
    area: float | str | None = None,
    threads: int = 0,
    along: Literal["x", "y"] = "x",
    initial: Literal["saturated", "zero"] = "saturated",
    solver: Literal["newton", "descent"] | None = "newton",
) -> np.ndarray:
    """The scan's table as a structured array: the scanned keys, Hc_down, Hc_up, H_eb, Hc (A/m),
    Mr_down, Mr_up, H_sat (A/m), jumps, misfit (NaN where none) and iterations."""
