"""The measurement layer's C interface (tavrix_measure.h) as ctypes sees it:
failure values, structures and prototypes. Depends on nothing in the package,
so that loading the libraries can declare the prototypes."""

from __future__ import annotations

import ctypes

_C = ctypes
_i32, _i64, _dbl, _bool = _C.c_int32, _C.c_int64, _C.c_double, _C.c_bool
_str = _C.c_char_p
_pd = _C.POINTER(_C.c_double)
_strings = _C.POINTER(_C.c_char_p)

# Failure values.
TVM_OK = 0
TVM_BAD_ARGUMENT = -1
TVM_NO_FILE = -2
TVM_BAD_FILE = -3
TVM_BAD_CHANNEL = -4
TVM_SILENT = -5
TVM_NO_DIRECT_SOUND = -6
TVM_LIBRARY_REFUSED = -7
TVM_WRITE_FAILED = -8
TVM_INTERNAL = -9
TVM_TABLE_FULL = -10
# Measurements through a sound card (the tool's `measure`); TVM_NO_SIGNAL also
# from tvm_deconvolve, for a recording of noise alone.
TVM_AUDIO_DEVICE = -20
TVM_AUDIO_STREAM = -21
TVM_NO_SIGNAL = -22
TVM_CLIPPED = -23

TVM_OCTAVE, TVM_THIRD = 1, 2
TVM_METHOD_COMPENSATED, TVM_METHOD_PLAIN = 0, 1



class tvm_audio(_C.Structure):
    _fields_ = [("samples", _pd), ("frames", _i64), ("sample_rate", _i32), ("channels", _i32),
                ("channel", _i32), ("quantisation_step", _dbl), ("format", _C.c_char * 32)]


class tvm_response(_C.Structure):
    _fields_ = [("name", _str), ("samples", _pd), ("length", _i64), ("sample_rate", _i32),
                ("quantisation_step", _dbl), ("channel", _i32), ("channels", _i32)]


tvm_progress_fn = _C.CFUNCTYPE(None, _C.c_void_p, _i32, _i32, _str)


class tvm_reverb_options(_C.Structure):
    _fields_ = [("bands", _i32), ("low_hz", _dbl), ("high_hz", _dbl), ("ranges", _pd), ("range_count", _i32),
                ("sweep_seconds", _dbl), ("tail_seconds", _dbl), ("native_rate", _bool),
                ("keep_silence", _bool), ("parameters", _bool), ("progress", tvm_progress_fn),
                ("progress_data", _C.c_void_p)]


class tvm_band_result(_C.Structure):
    _fields_ = [("band", _i32), ("label", _str), ("nominal", _str), ("frequency_hz", _dbl), ("status", _i32),
                ("method", _i32), ("method_text", _str), ("evaluated", _bool), ("result", _str), ("result_text", _str),
                ("doubt_count", _i32), ("doubts", _strings), ("times_s", _pd), ("r2", _pd),
                ("dynamic_range_db", _dbl), ("curvature_percent", _dbl), ("noise_level_db", _dbl),
                ("peak_level_db", _dbl), ("end_level_db", _dbl), ("tail_model_db", _dbl * 2), ("c50_db", _dbl),
                ("c80_db", _dbl), ("d50_percent", _dbl), ("ts_ms", _dbl), ("level_first_block", _i32),
                ("level_length", _i32), ("level_db", _pd), ("decay_length", _i32), ("decay_db", _pd),
                ("onset_s", _dbl), ("crosspoint_s", _dbl), ("window_start_s", _dbl), ("window_end_s", _dbl)]


class tvm_source_result(_C.Structure):
    _fields_ = [("name", _str), ("sample_rate", _i32), ("source_rate", _i32), ("silence_cut_s", _dbl), ("end_cut_s", _dbl),
                ("channel", _i32), ("channels", _i32), ("lead_in_s", _dbl), ("note_count", _i32), ("notes", _strings), ("band_count", _i32),
                ("bands", _C.POINTER(tvm_band_result))]


class tvm_reverb_report(_C.Structure):
    _fields_ = [("bands", _i32), ("bands_name", _str), ("band_scale", _dbl), ("block_seconds", _dbl), ("range_count", _i32),
                ("ranges_db", _pd), ("range_names", _strings), ("position_count", _i32),
                ("positions", _C.POINTER(tvm_source_result)), ("ensemble", _C.POINTER(tvm_source_result)),
                ("warning_count", _i32), ("warnings", _strings), ("evaluated_bands", _i32)]


class tvm_sti_options(_C.Structure):
    _fields_ = [("native_rate", _bool), ("signal_db", _pd), ("noise_db", _pd)]


class tvm_sti_result(_C.Structure):
    _fields_ = [("male", _dbl), ("female", _dbl), ("levels_corrected", _bool), ("sample_rate", _i32),
                ("source_rate", _i32), ("band_frequencies_hz", _dbl * 7), ("modulation_frequencies_hz", _dbl * 14),
                ("mtf", (_dbl * 14) * 7), ("stipa_male", _dbl), ("stipa_female", _dbl),
                ("stipa_modulation_frequencies_hz", (_dbl * 2) * 7), ("stipa_mtf", (_dbl * 2) * 7)]


class tvm_distortion_band(_C.Structure):
    _fields_ = [("band", _i32), ("frequency_hz", _dbl), ("label", _str), ("harmonics_db", _pd),
                ("thd_percent", _dbl)]


class tvm_distortion_report(_C.Structure):
    _fields_ = [("first_harmonic", _i32), ("last_harmonic", _i32), ("window_s", _dbl), ("band_count", _i32),
                ("bands", _C.POINTER(tvm_distortion_band))]


class tvm_impulse(_C.Structure):
    _fields_ = [("samples", _pd), ("length", _i64), ("sample_rate", _i32), ("direct_index", _i64), ("lead_s", _dbl),
                ("latency_s", _dbl), ("band_low_hz", _dbl), ("band_high_hz", _dbl), ("note_count", _i32),
                ("notes", _strings)]


TVM_SPATIAL_LATERAL, TVM_SPATIAL_BINAURAL = 0, 1
TVM_PAIR, TVM_FUMA, TVM_AMBIX = 0, 1, 2


class tvm_spatial_options(_C.Structure):
    _fields_ = [("mode", _i32), ("convention", _i32), ("native_rate", _bool)]


class tvm_spatial_band(_C.Structure):
    _fields_ = [("band", _i32), ("label", _str), ("nominal", _str), ("frequency_hz", _dbl), ("lf", _dbl),
                ("lfc", _dbl), ("iacc_early", _dbl), ("iacc_late", _dbl), ("iacc", _dbl), ("late_end_ms", _dbl)]


class tvm_spatial_report(_C.Structure):
    _fields_ = [("mode", _i32), ("mode_name", _str), ("convention", _i32), ("reference", _str),
                ("sample_rate", _i32), ("source_rate", _i32), ("band_scale", _dbl), ("onset_s", _dbl),
                ("band_count", _i32), ("bands", _C.POINTER(tvm_spatial_band)), ("lf_mean", _dbl),
                ("lfc_mean", _dbl), ("iacc_early_mean", _dbl), ("note_count", _i32), ("notes", _strings)]


class tvm_survey_table(_C.Structure):
    _fields_ = [("column_count", _i32), ("columns", _strings), ("text_columns", _C.POINTER(_bool)),
                ("row_count", _i32), ("numbers", _pd), ("texts", _strings)]


class tvm_path_list(_C.Structure):
    _fields_ = [("count", _i32), ("paths", _strings)]


STRUCTURES = [tvm_audio, tvm_response, tvm_reverb_options, tvm_band_result, tvm_source_result, tvm_reverb_report,
              tvm_sti_options, tvm_sti_result, tvm_distortion_band, tvm_distortion_report, tvm_impulse,
              tvm_spatial_options, tvm_spatial_band, tvm_spatial_report,
              tvm_survey_table, tvm_path_list]

_P = _C.POINTER
_PROTOTYPES = {
    "tvm_error_text": (_str, [_i32]),
    "tvm_last_error": (_str, []),
    "tvm_version": (_str, []),
    "tvm_lock_library": (None, []),
    "tvm_unlock_library": (None, []),
    "tvm_read_audio": (_i32, [_str, _i32, _P(_P(tvm_audio))]),
    "tvm_free_audio": (None, [_P(tvm_audio)]),
    "tvm_write_float_wav": (_i32, [_str, _pd, _i64, _i32]),
    "tvm_reverb_options_init": (None, [_P(tvm_reverb_options)]),
    "tvm_analyse_reverb": (_i32, [_P(tvm_response), _i32, _P(tvm_reverb_options), _P(_P(tvm_reverb_report))]),
    "tvm_free_reverb_report": (None, [_P(tvm_reverb_report)]),
    "tvm_analyse_sti": (_i32, [_P(tvm_response), _P(tvm_sti_options), _P(tvm_sti_result)]),
    "tvm_analyse_distortion": (_i32, [_pd, _i64, _dbl, _dbl, _dbl, _dbl, _i32, _i32,
                                      _P(_P(tvm_distortion_report))]),
    "tvm_free_distortion_report": (None, [_P(tvm_distortion_report)]),
    "tvm_deconvolve": (_i32, [_pd, _i64, _i32, _pd, _i64, _i32, _P(_P(tvm_impulse))]),
    "tvm_free_impulse": (None, [_P(tvm_impulse)]),
    "tvm_spatial_options_init": (None, [_P(tvm_spatial_options)]),
    "tvm_analyse_spatial": (_i32, [_P(tvm_response), _P(tvm_response), _P(tvm_spatial_options),
                                   _P(_P(tvm_spatial_report))]),
    "tvm_free_spatial_report": (None, [_P(tvm_spatial_report)]),
    "tvm_survey_file": (_i32, [_str, _P(_P(tvm_survey_table))]),
    "tvm_survey_failure": (_i32, [_str, _str, _P(_P(tvm_survey_table))]),
    "tvm_free_survey_table": (None, [_P(tvm_survey_table)]),
    "tvm_find_audio_files": (_i32, [_P(_str), _i32, _P(_P(tvm_path_list))]),
    "tvm_free_path_list": (None, [_P(tvm_path_list)]),
}


def declare(cdll):
    """Sets the prototypes (an AttributeError when an export is missing)."""
    for name, (restype, argtypes) in _PROTOTYPES.items():
        fn = getattr(cdll, name)
        fn.restype = restype
        fn.argtypes = argtypes
    return cdll
