"""tova: TOVA thermal recordings as numpy arrays.

    import tova
    with tova.open("sample.tova") as rec:
        rec.shape            # (frames, height, width)
        rec[10]              # one frame, read when asked for
        rec.celsius[::10]    # every tenth frame in degrees Celsius (float32)
        rec.times            # datetime64[ms], naive: the stamps carry no time zone
        rec.meta             # the values all frames share
"""
from . import errors
from ._dask import open_many
from ._lib import LibraryNotFoundError
from .errors import *  # noqa: F401,F403 - the TovaError family
from .recording import Recording, open
from .repair import RepairError, repair
from .writer import Writer, create

__version__ = "1.0.0"
__all__ = ["open", "create", "open_many", "repair", "RepairError", "Recording", "Writer", "LibraryNotFoundError", "errors"] + errors.__all__
