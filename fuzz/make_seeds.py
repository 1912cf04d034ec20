#!/usr/bin/env python3
"""Writes the seed corpora under corpus/<target>/ (run from anywhere; rewrites the seeds)."""
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def row(count, value=b"1"):
    return b" ".join([value] * count) + b"\n"


rng = random.Random(1003)

# Data row reader: buffer size byte, largest read byte, rule byte, then the file.
reader = {
    "plain": b"1 2\n3 4\n",
    "comments": b"# c\n1,2\n! x\n% y\n3 4\n# end\n",
    "crlf": b"1 2\r\n3 4\r\n",
    "eof_byte": b"1 2\n\x1a3 4\n",
    "nul": b"1 2\x00 x y\n3 4\n",
    "empty_line": b"1\n\n2\n",
    "bad_character": b"1 2\n1 x\n",
    "mismatch": b"1 2\n1 2 3\n",
    "number_syntax": b"1e5 .5 5. -.5 +5 +-5 1e 2E+ 3e- e5 1,,3\n",
    "malformed": b"1 . 2\n- 1\n",
    "separators_only": b" ,\t,\n1 2\n",
    "lone_cr": b"1\r2\n",
    "range_limits": b"3.5e38 -1e39 1e-50 -0 1e-45 3.4028235e38\n",
    "long_digits": b"0." + b"0" * 300 + b"1 " + b"9" * 400 + b"\n",
    "halfway": b"16777217 0.1 1.00000005960464477539062500001\n",
    "long_line": row(120, b"12.5"),
    "long_comment": b"1 " * 100 + b"# note\n1\n",
    "long_nul": b"1 " * 100 + b"\x00zz\n",
    "long_crlf_mismatch": b"1 2\r\n" + b"1 " * 80 + b"\r\n",
    "values_2048": row(2048),
    "values_2049": row(2049),
    "high_bytes": b"1 2\n\x80\xff\n",
    "exponent_huge": b"1e99999999999 1e-99999999999\n",
    "no_final_lf": b"1 2\n3 4",
}
# Edges of reading to double (the target reads every input to float and to double).
reader_double = {
    "range_limits_double": b"1.7976931348623157e308 1.8e308 -1e309 4.9e-324 2.4703282292062328e-324"
    b" 1e-400 -2.2250738585072011e-308 0.3 -7.1e-5\n",
    "halfway_double": b"9007199254740993 9007199254740992e22 9007199254740992e-22 1e23\n"
    b"1.00000000000000011102230246251565404236316680908203125 "
    b"1.00000000000000011102230246251565404236316680908203125" + b"0" * 900 + b"1 -0 0.1\n",
}
for i, (name, data) in enumerate(sorted(reader.items()) + sorted(reader_double.items())):
    prefix = bytes([i * 7 % 256, i * 13 % 256, (i % 5) * 3])
    write("data_row_reader", name, prefix + data)
# Row formats: bit 4 of the rule byte, then a flags byte (nodata, decimal comma, nodata value,
# small capacity, skip_columns in bits 4-5, skip_rows in bits 6-7) and a parameter byte.
NODATA, COMMA, VALUE, CAPACITY = 1, 2, 4, 8
def skips(columns, rows):
    return columns << 4 | rows << 6
reader_formats = {
    "format_nodata_words": (NODATA, 0, b"nan -inf 2.5 Infinity\n-NaN +inf INF na\nnanny 1 2 3\n"),
    "format_to_csv": (NODATA | skips(1, 1), 0, b",a,b\n0,1.5,\n1,,2.5\n2,,\n3, ,\r\n"),
    "format_decimal_comma": (COMMA | skips(0, 1), 0,
                             b"\xef\xbb\xbfx;y\r\n1,5;2,25\r\n-3,125 ;4\r\n1.5;2\n"),
    "format_comma_nodata": (COMMA | NODATA, 0, b"0,1;;7,5;\n;nan;-inf;1e3\n"),
    "format_bom_empty_fields": (COMMA | NODATA | skips(3, 0), 0, b"\xef\xbb\xbf;;;;;;;\t\n"),
    "format_nodata_value": (NODATA | VALUE, 128 - 5, b"-5 1 -5.0 -0.5e1 nan\n-5.0000001 2 3 4 5\n"),
    "format_capacity": (CAPACITY | skips(2, 0), 3, b"1 2 3 4 5 6 7\n7 6 5 4 3 2 1\n1 2\n"),
    "format_skip_rows": (skips(0, 3), 0, b"\x80\xff\n" + b"x" * 100 + b"\n\n1 2\n3 4\n\n5\n"),
}
for i, (name, (flags, parameter, data)) in enumerate(sorted(reader_formats.items())):
    prefix = bytes([i * 11 % 256, i * 5 % 256, 16 | (i % 3), flags, parameter])
    write("data_row_reader", name, prefix + data)

# Command line: text split as a raw command line; arguments 1 and 2 are pattern and name.
command_lines = {
    "plain": b"prog a b c",
    "quoted_program": b'"C:\\Program Files\\x.exe" "a b" c\\"d',
    "pattern": b"x *.dat A.DAT",
    "question": b"x a*b?c ABXC",
    "backslashes": b'x a\\\\\\"b "c""d" \\\\"q',
    "empty_quotes": b'x "" "" \t z',
    "many_stars": b"x *a*a*a*a*b aaaaaaaaaaaaaaaaaaaaaaaaaac",
    "order": b"x Z.DAT _.DAT a.dat 1.dat B.DAT b.dat",
    "high_bytes": b"x \x84\x8e \xe4\xc4 ~",
    "empty": b"",
}
for name, data in command_lines.items():
    write("command_line", name, data)

# Conversion: width byte, height byte, flags byte (transpose, changing file, buffer), the file.
def grid(rows, columns):
    return b"".join(
        b" ".join(str(rng.randint(-999, 999)).encode() for _ in range(columns)) + b"\n"
        for _ in range(rows))


# Conversion: X byte, Y byte, flags byte (transposition, a file that changes, buffer size),
# run byte (bit 0: -A, bit 1: -U, bits 2-3: files - 1, bits 4-5: the stretch, bit 6: limits given,
# bit 7: blocks of 2 + Y byte / 64),
# then the files, cut apart at form feeds. Y byte / 40 chooses the rows' format (1 missing values,
# 2 and -1 missing, 3 one skipped row and column, 4 decimal comma, 5 with missing values and two
# skipped rows, 6 missing values and two skipped columns); the flags byte is their level.
A, U = 1, 2
def files(n):
    return (n - 1) << 2
conversion = {
    "two_by_two": (0, 0, 0, 0, b"0,1\n1,0\n"),
    "transposed": (5, 9, 1, 0, b"0 1 2\n3 4 5\n"),
    "clipped": (6, 6, 0, 0, grid(20, 20)),
    "changing": (10, 10, 2, 0, b"1 2\n3 4\n5 6\n" + b"1e30 -1e30\n-5 7\n"),
    "changing_long": (10, 10, 2 | (0 << 2), 0, b"1 " * 40 + b"\n" + b"9 " * 40 + b"\n"),
    "constant": (3, 3, 4, 0, b"7 7\n7 7\n"),
    "infinite": (3, 3, 0, 0, b"1 3.5e38\n2 3\n"),
    "bad_row": (3, 3, 0, 0, b"1 2\n1 2 3\n"),
    "bad_character": (3, 3, 1, 0, b"1 2\n1 x\n"),
    "comments_only": (3, 3, 0, 0, b"# a\n! b\n"),
    "empty": (3, 3, 0, 0, b""),
    "small_buffer": (30, 4, 0, 0, grid(3, 32)),
    # -A with a first line that is refused or ends the data (these crashed once).
    "auto_bad_first_row": (3, 3, 0, A, b"x\n1\n"),
    "auto_empty_first_line": (3, 3, 0, A, b"\n5 6\n"),
    "auto_bad_after_the_end": (3, 3, 0, A, b"\n1 x\n"),
    "auto_second_file_bad": (3, 3, 0, A | files(2), b"1 2\n3 4\n\fx y\n1 2\n"),
    # Runs of several files: read ahead, one scale, double precision.
    "three_files": (7, 5, 0, files(3), b"1 2\n3 4\n\f5 6\n7 8\n\f# c\n9 1\n"),
    "three_files_auto": (7, 5, 1, A | files(3), b"1 2 3\n4 5 6\n\f7 8\n\f1\n2\n3\n"),
    "one_scale": (4, 4, 0, U | files(2), b"1 2\n3 4\n\f10 20\n30 40\n"),
    "one_scale_bad": (4, 4, 0, U | files(2), b"1 2\n\f1 2 3\n"),
    "double_wide_span": (128, 2, 0, A, b"-1e308 1e308\n0 5e307\n"),
    # Stretches between limits of the data or given ones (values beyond them counted).
    "sqrt_of_the_data": (4, 3, 0, 1 << 4, b"0 1 4\n9 16 25\n"),
    "log_given_limits": (9, 3, 1, (2 << 4) | 64, b"0.1 1 10\n-5 0 1e30\n"),
    "asinh_given_limits_two_files": (20, 4, 0, (3 << 4) | 64 | files(2), b"-9 3 7 1\n40 2 0 5\n\f8 8 -1 30\n2 2 2 2\n"),
    # The rows' formats, read alone, split and ahead.
    "missing": (4, 40 + 3, 0, A, b"1,,3\nnan -1 Inf\n,2,\n\n7 8 9\n"),
    "missing_value_one_scale": (3, 80 + 2, 9, U | files(2), b"1 -1 3\n4 5 6\n\f-1 -1 -1\n"),
    "skipped_row_and_column": (3, 120 + 3, 0, A, b"a b c\n0 1 2\n1 3 4\n# d\n2 5 6\n"),
    "decimal_comma": (3, 160 + 3, 0, A, b"1,5;2,25\r\n-0,5e1;3\r\n"),
    "decimal_comma_missing": (3, 200 + 3, 4, A | files(2), b"x\ny\n1,5;;2\n\f\n\n;;\n"),
    "skipped_columns_missing": (3, 240 + 3, 0, A, b"0 1 nan 3\n1 4 5 6\n2 1\n"),
    "blocks_of_two": (3, 3, 0, A | 128, b"1 2 3 4 5\n6 7 8 9 1\n# c\n2 3 4 5 6\n"),
    "blocks_missing_two_files": (4, 64 + 40 + 3, 0, 128 | files(2), b"nan 1 2\n3 nan 4\n\f5 6 7\n"),
}
for name, (w, h, flags, run, data) in conversion.items():
    write("conversion", name, bytes([w, h, flags, run]) + data)

# LZW: width byte (width - 1), then the pixels.
write("lzw", "four", bytes([1, 0, 255, 255, 0]))
write("lzw", "constant", bytes([255]) + bytes([200]) * 256 * 8)
write("lzw", "ramp", bytes([63]) + bytes(i % 256 for i in range(64 * 40)))
write("lzw", "random", bytes([99]) + bytes(rng.randrange(256) for _ in range(100 * 60)))
write("lzw", "one_pixel", bytes([0, 7]))
write("lzw", "zeros_then_noise", bytes([31]) + bytes(32 * 20) + bytes(rng.randrange(4) for _ in range(32 * 40)))
# Noise without zeros, with the string "0 after 0" made after another string whose first slot
# is slot 0 (pixel 16 after code 1, here): the case where a key of 0 can be lost in a later
# slot, which the encoder follows in the table layout it was designed with.
late_zero = bytearray()
while len(late_zero) < 256 * 48:
    late_zero += bytes(1 + rng.randrange(255) for _ in range(1496)) + bytes([16, 1, 0, 0])
write("lzw", "key_zero_late", bytes([255]) + bytes(late_zero[: 256 * 48]))
