"""Surveys of many audio files: every file analysed alone by the layer, on
worker processes or on a Dask cluster, into one pandas DataFrame."""

from __future__ import annotations

import concurrent.futures
import ctypes
import os
from typing import Iterable, List, Optional, Sequence, Tuple, Union

from ._abi import TVM_OK, tvm_path_list, tvm_survey_table
from ._audio import PathLike
from ._layer import check, text, utf8_path
from ._library import ArgumentError, layer


def _table(t) -> Tuple[List[str], List[tuple]]:
    """The columns and rows of a layer's survey table as Python values."""
    n = t.column_count
    columns = [text(t.columns[c]) for c in range(n)]
    is_text = [bool(t.text_columns[c]) for c in range(n)]
    rows = [tuple(text(t.texts[r * n + c]) if is_text[c] else float(t.numbers[r * n + c]) for c in range(n))
            for r in range(t.row_count)]
    return columns, rows


def survey_columns() -> List[str]:
    """The columns of survey rows, as ``tavrix survey`` writes them."""
    L = layer()
    out = ctypes.POINTER(tvm_survey_table)()
    check(L.tvm_survey_file(None, ctypes.byref(out)))
    try:
        return _table(out.contents)[0]
    finally:
        L.tvm_free_survey_table(out)


def survey_file(path: PathLike) -> List[tuple]:
    """The survey rows of one file (see ``survey``); a file that cannot be
    analysed gives its one row with the reason in the column "error". Runs in
    the calling process; this is what the workers run."""
    L = layer()
    name = utf8_path(path)
    out = ctypes.POINTER(tvm_survey_table)()
    code = L.tvm_survey_file(name, ctypes.byref(out))
    if code != TVM_OK:
        reason = L.tvm_last_error() or L.tvm_error_text(code)
        check(L.tvm_survey_failure(name, reason, ctypes.byref(out)))
    try:
        return _table(out.contents)[1]
    finally:
        L.tvm_free_survey_table(out)


def find_audio_files(paths: Union[PathLike, Sequence[PathLike]]) -> List[str]:
    """The files named and the audio files in the folders named (recursively,
    by the extensions of the formats the layer reads), sorted, without
    repeats. A path that names nothing raises ``FileError``."""
    if isinstance(paths, (str, bytes, os.PathLike)):
        paths = [paths]
    names = [utf8_path(p) for p in paths]
    if not names:
        raise ArgumentError("give at least one file or folder")
    array = (ctypes.c_char_p * len(names))(*names)
    L = layer()
    out = ctypes.POINTER(tvm_path_list)()
    check(L.tvm_find_audio_files(array, len(names), ctypes.byref(out)))
    try:
        return [os.fsdecode(out.contents.paths[k]) for k in range(out.contents.count)]
    finally:
        L.tvm_free_path_list(out)


def _rows_in_processes(files: List[str], workers: Optional[int]) -> Iterable[List[tuple]]:
    workers = workers or os.cpu_count() or 1
    if workers == 1 and len(files) <= 1:
        return map(survey_file, files)
    # A few files per message keeps the exchange with the workers small
    # next to the analyses, and still spreads the files evenly.
    chunk = max(1, min(8, len(files) // (4 * workers)))
    with concurrent.futures.ProcessPoolExecutor(max_workers=workers) as pool:
        return list(pool.map(survey_file, files, chunksize=chunk))


def _rows_on_cluster(files: List[str], client) -> Iterable[List[tuple]]:
    # pure=False: a file may change between two surveys of the same path.
    futures = client.map(survey_file, files, pure=False)
    return client.gather(futures)


def survey(paths: Union[PathLike, Sequence[PathLike]], workers: Optional[int] = None, client=None):
    """Reverberation, energy parameters and speech transmission index of every
    audio file of a collection, each analysed alone, as a pandas DataFrame.

    ``paths``: files and folders (searched recursively for audio files). Every
    channel of a file is analysed on its own, as ``reverberation(...,
    parameters=True)`` and ``sti()`` analyse it with their defaults: one row
    per file, channel and band (octave bands 125 Hz to 8 kHz, then "A" and
    "Z"), the channel's STI on each of its rows, the columns of ``tavrix
    survey``'s CSV, in the order of the sorted paths. A file that cannot be
    analysed gives one row with its reason in the column "error" (empty
    otherwise); ``df.attrs["failed"]`` lists those files.

    The files are analysed in ``workers`` processes (default: one per core;
    the layer's use of the library is serialised within a process, so
    threads would take turns). Given a Dask ``distributed.Client``, they are
    analysed on its cluster instead, whose workers need this package and the
    files at the same paths."""
    import pandas

    files = find_audio_files(paths)
    if client is not None:
        if workers is not None:
            raise ArgumentError("give workers or a Dask client, not both: the client's cluster has its own workers")
        per_file = _rows_on_cluster(files, client)
    elif workers is not None and workers < 1:
        raise ArgumentError(f"workers must be at least 1, not {workers}")
    else:
        per_file = _rows_in_processes(files, workers)
    columns = survey_columns()
    frame = pandas.DataFrame.from_records([row for rows in per_file for row in rows], columns=columns)
    frame.attrs["failed"] = sorted(set(frame.loc[frame["error"] != "", "file"]))
    return frame
