"""Builds the extension lumifold._lumifold with the project's own CMake build
(the target _lumifold alone: no desktop program, no tests) for the
interpreter running pip, and packages it with src/python/lumifold."""

import os
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent
# setuptools' own scratch folders, out of the way of the project's build/.
(ROOT / "build-pip").mkdir(exist_ok=True)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        target = Path(self.get_ext_fullpath(ext.name)).resolve()
        build = Path(self.build_temp).resolve() / "cmake"
        generator = ["-G", "Ninja"] if shutil.which("ninja") else []
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), *generator, "-DCMAKE_BUILD_TYPE=Release",
                        "-DLUMIFOLD_GUI=OFF", "-DLUMIFOLD_TESTS=OFF", "-DLUMIFOLD_PYTHON=ON",
                        f"-DPython3_EXECUTABLE={sys.executable}"], check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "_lumifold", "--parallel",
                        str(os.cpu_count() or 1)], check=True)
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(build / "python" / "lumifold" / target.name, target)


setup(
    packages=["lumifold"],
    package_dir={"": "src/python"},
    package_data={"lumifold": ["py.typed"]},
    ext_modules=[Extension("lumifold._lumifold", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": "build-pip"}, "egg_info": {"egg_base": "build-pip"}},
)
