"""The demo runs end to end on the sample data and writes its picture."""
import re

import pytest

pytest.importorskip("matplotlib")
from bsbasis import demo  # noqa: E402


def test_demo_fits_and_writes_png(tmp_path, capsys):
    out = tmp_path / "fit.png"
    assert demo.main(["--column", "AAPL", "--knots", "40", "--penalty", "1",
                      "--bench-points", "0", "--output", str(out)]) == 0
    text = capsys.readouterr().out
    assert "40 knots, 36 basis functions" in text
    diff = float(re.search(r"max \|bsbasis - scipy\| = (\S+)", text).group(1))
    assert diff < 1e-13
    r2 = float(re.search(r"R\^2 (\S+)", text).group(1))
    assert 0.9 < r2 <= 1.0
    assert out.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_demo_rejects_bad_options(capsys):
    with pytest.raises(SystemExit):
        demo.main(["--column", "NOPE"])
    with pytest.raises(SystemExit):
        demo.main(["--knots", "3"])
