"""The exports for other tools, read back by mrcal itself, on rendered views
with partial boards (a hand over part of every view)."""

import json
import os
import subprocess
import tempfile
import unittest

import mrcal

CLI = os.environ["VEXEL_CLI"]


def run(*args, **kwargs):
    return subprocess.run([CLI, *args], capture_output=True, text=True, **kwargs)


class Exports(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        subprocess.run([CLI, "render", cls.path("views"), "--views", "10", "--seed", "7", "--noise", "1.5",
                        "--blur", "0.6", "--fault", "hand", "-q"], check=True)
        cls.views = cls.path("views/views.iml")
        result = run("calibrate", cls.views, "--json", "--with-points", "-q",
                     "--mrcal-corners", cls.path("corners.vnl"), "--mrcal-model", cls.path("camera.cameramodel"))
        assert result.returncode == 0, result.stderr
        cls.result = json.loads(result.stdout)
        camera = cls.result["camera"]
        cls.core = [camera["fx"], camera["fy"], camera["cx"], camera["cy"]]

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    @classmethod
    def path(cls, name):
        return os.path.join(cls.dir.name, name)

    def test_mrcal_reads_the_model(self):
        model = mrcal.cameramodel(self.path("camera.cameramodel"))
        lensmodel, intrinsics = model.intrinsics()
        self.assertEqual(lensmodel, "LENSMODEL_OPENCV4")
        self.assertEqual(list(intrinsics), self.core + self.result["distortion"])
        self.assertEqual(list(model.imagersize()), [640, 480])

    def test_mrcal_calibrates_from_the_corners_with_partial_views(self):
        with open(self.path("corners.vnl")) as f:
            self.assertGreater(sum(line.endswith(" -\n") for line in f), 0, "no partial view")
        out = self.path("mrcal")
        os.mkdir(out)
        # The rendered board is flat, as our model has it.
        subprocess.run(["mrcal-calibrate-cameras", "--corners-cache", self.path("corners.vnl"),
                        "--lensmodel", "LENSMODEL_OPENCV4", "--focal", str(self.core[0]),
                        "--object-spacing", "1", "--object-width-n", "10", "--object-height-n", "11",
                        "--skip-calobject-warp-solve", "--outdir", out, self.path("views/*.pgm")],
                       check=True, capture_output=True)
        [name] = os.listdir(out)
        _, intrinsics = mrcal.cameramodel(os.path.join(out, name)).intrinsics()
        for ours, theirs in zip(self.core, intrinsics[:4]):
            self.assertAlmostEqual(ours, theirs, delta=0.1)

    def test_json_with_points_gives_every_frames_correspondences(self):
        for frame in self.result["frames"]:
            points = frame["correspondences"]
            self.assertEqual(len(points), frame["points"])
            for p in points:
                self.assertEqual(p["label"], [round(p["board"][0]), round(p["board"][1])])
                self.assertEqual(len(p["image"]), 2)

    def test_dash_is_standard_output_once(self):
        result = run("calibrate", self.views, "-q", "--colmap-cameras", "-")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(result.stdout.startswith("# Camera list"), result.stdout)
        self.assertIn("focal length", result.stderr)  # the report moved aside
        self.assertEqual(run("calibrate", self.views, "--kalibr-yaml", "-", "--mrcal-model", "-").returncode, 2)
        self.assertEqual(run("calibrate", self.views, "--json", "--mrcal-model", "-").returncode, 2)


if __name__ == "__main__":
    unittest.main()
