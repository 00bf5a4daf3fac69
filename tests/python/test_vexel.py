"""The Python module against the command-line tool, on rendered views."""

import contextlib
import json
import os
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import numpy as np

import vexel

CLI = os.environ["VEXEL_CLI"]


def read_pgm(path):
    with open(path, "rb") as f:
        data = f.read()
    magic, width, height, maxval, pixels = data.split(maxsplit=4)
    assert magic == b"P5" and maxval == b"255"
    return np.frombuffer(pixels, np.uint8).reshape(int(height), int(width))


class RenderedViews(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        subprocess.run([CLI, "render", cls.dir.name, "--views", "6", "--seed", "3", "--noise", "1", "-q"],
                       check=True)
        with open(os.path.join(cls.dir.name, "views.iml")) as f:
            cls.files = [os.path.join(cls.dir.name, line.strip()) for line in f if line.strip()]
        cls.images = [read_pgm(p) for p in cls.files]
        cls.detections = [vexel.detect(image) for image in cls.images]

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def test_detection_holds_the_correspondences(self):
        d = self.detections[0]
        self.assertIsNone(d.failure)
        self.assertGreaterEqual(len(d), 4)
        self.assertEqual(d.image_points.shape, (len(d), 2))
        self.assertEqual(d.board_points.shape, (len(d), 3))
        self.assertTrue(np.all(d.board_points[:, 2] == 0))
        np.testing.assert_array_equal(d.labels, d.board_points[:, :2].astype(int))
        self.assertTrue(np.all((d.labels[:, 0] >= -5) & (d.labels[:, 0] <= 4)))
        self.assertEqual(d.image_size, (640, 480))

    def test_colour_and_strided_pictures_read_as_grey(self):
        grey = self.images[1]
        colour = np.dstack([grey, grey, grey])
        for picture in (colour, np.asfortranarray(grey), np.pad(grey, 1)[1:-1, 1:-1]):
            np.testing.assert_array_equal(vexel.detect(picture).image_points, self.detections[1].image_points)

    def test_a_picture_without_the_board_says_why(self):
        d = vexel.detect(np.full((240, 320), 128, np.uint8))
        self.assertEqual(d.failure, "no board found")
        self.assertEqual(d.image_points.shape, (0, 2))

    def test_unusable_arrays_are_refused(self):
        with self.assertRaises(TypeError):
            vexel.detect(np.zeros((10, 10), np.float32))
        with self.assertRaises(ValueError):
            vexel.detect(np.zeros((10, 10, 2), np.uint8))

    def test_calibration_gives_the_numbers_of_the_command_line_tool(self):
        out = subprocess.run([CLI, "calibrate", *self.files, "--json", "-q", "-j", "1"], check=True,
                             capture_output=True, text=True).stdout
        cli = json.loads(out)
        cal = vexel.calibrate(self.detections, (640, 480))
        # The same calibration on the same points; the last bits may differ
        # with where the heap puts the solver's arrays in each process.
        same = dict(rtol=1e-9, atol=0)
        np.testing.assert_allclose(cal.camera, np.reshape(cli["camera"]["matrix"], (3, 3)), **same)
        np.testing.assert_allclose(cal.distortion, cli["distortion"], **same)
        np.testing.assert_allclose(cal.rms, cli["rms"], **same)
        np.testing.assert_allclose([cal.deviations[k] for k in cli["stdDev"]], list(cli["stdDev"].values()),
                                   rtol=1e-6)
        np.testing.assert_allclose(cal.per_view_errors, [f["rms"] for f in cli["frames"]], **same)
        self.assertEqual(cal.warnings, cli["warnings"])
        self.assertEqual(cal.views, list(range(len(self.files))))

    def test_views_of_another_size_are_left_out_with_a_warning(self):
        small = vexel.detect(self.images[0][:400, :600].copy())
        cal = vexel.calibrate(self.detections + [small] if len(small) >= 4 else self.detections, (640, 480))
        if len(small) >= 4:
            self.assertIsNone(cal.per_view_errors[-1])
            self.assertTrue(any("size" in w for w in cal.warnings))
        with self.assertRaises(ValueError):
            vexel.calibrate(self.detections, (800, 600))
        with self.assertRaises(ValueError):
            vexel.calibrate(self.detections, (640, 480), model="no-such-model")

    def test_calibration_files_round_trip(self):
        cal = vexel.calibrate(self.detections, (640, 480))
        for form in ("labelled", "text", "binary"):
            path = os.path.join(self.dir.name, form + ".cal")
            vexel.write_calibration(path, cal, form)
            back = vexel.read_calibration(path)
            np.testing.assert_allclose(back.camera, cal.camera, rtol=0, atol=1e-6)
            np.testing.assert_allclose(back.distortion, cal.distortion, rtol=0, atol=1e-6)
        with self.assertRaises(OSError):
            vexel.read_calibration(os.path.join(self.dir.name, "missing.cal"))
        bad = os.path.join(self.dir.name, "bad.cal")
        with open(bad, "w") as f:
            f.write("x")
        with self.assertRaises(ValueError):
            vexel.read_calibration(bad)

    def test_other_threads_run_while_it_works(self):
        # With no forced switches, another thread gets the interpreter only
        # when this one lets it go: it counts the moments it ran while the
        # extraction was under way.
        state = {"inside": False, "ticks": 0, "stop": False}

        def tick():
            while not state["stop"]:
                if state["inside"]:
                    state["ticks"] += 1
                time.sleep(0.0002)

        interval = sys.getswitchinterval()
        sys.setswitchinterval(100)
        worker = threading.Thread(target=tick)
        worker.start()
        try:
            for _ in range(3):
                state["inside"] = True
                vexel.detect(self.images[2])
                state["inside"] = False
        finally:
            state["stop"] = True
            worker.join()
            sys.setswitchinterval(interval)
        self.assertGreater(state["ticks"], 0)

class ReadmeExample(unittest.TestCase):
    def test_calibrates_from_a_folder_of_photos(self):
        readme = open(os.path.join(os.path.dirname(__file__), "..", "..", "README.md")).read()
        section = readme[readme.index("## From Python"):]
        code = section[section.index("```python\n") + 10:section.index("\n```", section.index("```python"))]
        with tempfile.TemporaryDirectory() as folder:
            subprocess.run([CLI, "render", os.path.join(folder, "photos"), "--views", "5", "--format", "jpg",
                            "--noise", "1", "-q"], check=True)
            cwd = os.getcwd()
            os.chdir(folder)
            try:
                with open(os.devnull, "w") as out, contextlib.redirect_stdout(out):
                    exec(compile(code, "README.md", "exec"), {})
                self.assertEqual(vexel.read_calibration("camera.cal").camera.shape, (3, 3))
            finally:
                os.chdir(cwd)


if __name__ == "__main__":
    unittest.main()
