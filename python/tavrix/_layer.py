"""The measurement layer's failures as exceptions, and the conversion of its
results (strings, arrays) into Python values; the C declarations are in _abi."""

from __future__ import annotations

import math
import os
from typing import List

import numpy as np

from ._abi import (
    TVM_BAD_ARGUMENT,
    TVM_BAD_CHANNEL,
    TVM_BAD_FILE,
    TVM_NO_DIRECT_SOUND,
    TVM_NO_FILE,
    TVM_NO_SIGNAL,
    TVM_OK,
    TVM_SILENT,
    TVM_TABLE_FULL,
    TVM_WRITE_FAILED,
)
from ._library import ArgumentError, FileError, NotReadyError, TableFullError, TavrixError, layer

_EXCEPTIONS = {
    TVM_BAD_ARGUMENT: ArgumentError,
    TVM_BAD_CHANNEL: ArgumentError,
    TVM_NO_FILE: FileError,
    TVM_BAD_FILE: FileError,
    TVM_WRITE_FAILED: FileError,
    TVM_SILENT: NotReadyError,
    TVM_NO_DIRECT_SOUND: NotReadyError,
    TVM_NO_SIGNAL: NotReadyError,
    TVM_TABLE_FULL: TableFullError,
}


def check(code: int) -> None:
    """Raises the exception for a failure value, in the layer's words. Call it
    right after the failing call: the last error is the calling thread's."""
    if code == TVM_OK:
        return
    L = layer()
    message = text(L.tvm_last_error()) or text(L.tvm_error_text(code)) or f"failure {code}"
    raise _EXCEPTIONS.get(code, TavrixError)(message, code)


def utf8_path(path) -> bytes:
    """A path as the layer takes it: UTF-8 (undecodable bytes kept as they are)."""
    p = os.fspath(path)
    return p if isinstance(p, bytes) else p.encode("utf-8", "surrogateescape")


def text(value) -> str:
    """A string of the layer (UTF-8, NULL as "")."""
    return value.decode("utf-8", "replace") if value else ""


def texts(array, count: int) -> List[str]:
    return [text(array[i]) for i in range(count)] if count > 0 else []


def doubles(pointer, count: int) -> np.ndarray:
    """A copy of count doubles (an empty array for none)."""
    if count <= 0 or not pointer:
        return np.empty(0)
    return np.ctypeslib.as_array(pointer, shape=(count,)).copy()


def finite_or_none(value):
    """A number as the tool's JSON has it: None where it is not finite."""
    return value if isinstance(value, (int, str, bool)) or value is None or math.isfinite(value) else None
