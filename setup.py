"""The Python package nbforce, built by CMake for pip.

    python3 -m pip install --no-build-isolation .

configures a CMake build of the extension modules alone (no tests,
benchmarks, Fortran, CUDA or integrator programs) for the interpreter that
runs pip, builds them, and installs them with the package's Python files.
NBFORCE_CMAKE_BUILD=DIR builds in DIR instead of a folder of its own, and
reuses it as it is configured where DIR holds a CMake build already (a
build of the source tree made for the same interpreter, as CTest's check of
the installation does). NBFORCE_CMAKE_ARGS adds configure arguments.
"""

import os
import pathlib
import shlex
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent
MODULES = ["_order4", "_order6", "_order8", "_model", "_diagnostics"]


class CMakeBuild(build_ext):
    """Builds every extension module in one CMake run."""

    def run(self):
        given = os.environ.get("NBFORCE_CMAKE_BUILD")
        build = pathlib.Path(given or pathlib.Path(self.build_temp) / "cmake").resolve()
        build.mkdir(parents=True, exist_ok=True)
        if not (build / "CMakeCache.txt").exists():
            configure = [
                "cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                f"-DPython3_EXECUTABLE={sys.executable}", "-DNBFORCE_CUDA=OFF",
                "-DNBFORCE_BUILD_TESTS=OFF", "-DNBFORCE_BUILD_BENCH=OFF",
                "-DNBFORCE_BUILD_GPUCHECK=OFF", "-DNBFORCE_FORTRAN=OFF",
            ] + shlex.split(os.environ.get("NBFORCE_CMAKE_ARGS", ""))
            subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", str(build), "-j", str(os.cpu_count() or 1),
                        "--target"] + MODULES, check=True)
        built = build / "python" / "nbforce"
        for ext in self.extensions:
            name = ext.name.split(".")[-1]
            found = sorted(built.glob(name + ".*.so")) or sorted(built.glob(name + ".so"))
            if not found:
                sys.exit(f"setup.py: CMake built no {name} module in {built}; is "
                         f"{sys.executable} the interpreter that folder was configured for, "
                         "with numpy and pybind11?")
            target = pathlib.Path(self.get_ext_fullpath(ext.name))
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(found[0], target)


setup(
    name="nbforce",
    version="0.1.0",
    description="Direct-summation gravitational N-body forces and Hermite integrators",
    packages=["nbforce"],
    package_dir={"": "python"},
    ext_modules=[Extension(f"nbforce.{m}", sources=[]) for m in MODULES],
    cmdclass={"build_ext": CMakeBuild},
    install_requires=["numpy"],
    python_requires=">=3.9",
    zip_safe=False,
)
