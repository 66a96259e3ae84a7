"""Builds the tzcumfun wheel: CMake builds the project; its "python" component is the package."""

import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tempfile
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


class CMakePackage(build_ext):
    """Configures and builds the project, or reuses a build tree named by TZCUMFUN_CMAKE_BUILD_DIR
    that was configured for this interpreter, then installs the package's component into the
    wheel's tree."""

    def build_extension(self, ext):
        build = os.environ.get("TZCUMFUN_CMAKE_BUILD_DIR")
        if build is None:
            build = Path(self.build_temp).resolve() / "cmake"
            generator = ["-G", "Ninja"] if shutil.which("ninja") else []
            self.spawn(["cmake", "-S", str(ROOT), "-B", str(build), *generator,
                        "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DTZCUMFUN_BUILD_TESTS=OFF",
                        "-DTZCUMFUN_BUILD_BENCH=OFF", f"-DPython3_EXECUTABLE={sys.executable}"])
        self.spawn(["cmake", "--build", str(build)])
        with tempfile.TemporaryDirectory() as stage:
            # The component installs into the configured interpreter's directory; DESTDIR moves it.
            subprocess.run(["cmake", "--install", str(build), "--component", "python", "--strip"],
                           check=True, env={**os.environ, "DESTDIR": stage})
            package = next(Path(stage).rglob("tzcumfun/__init__.py")).parent
            suffix = sysconfig.get_config_var("EXT_SUFFIX")
            if not (package / f"_tzcumfun{suffix}").exists():
                raise RuntimeError(f"{build} was not configured for {sys.executable}")
            target = Path(self.build_lib) / "tzcumfun"
            shutil.rmtree(target, ignore_errors=True)
            shutil.copytree(package, target)


def version() -> str:
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(\w+ VERSION ([\d.]+)", text).group(1)


setup(
    version=version(),
    packages=[],  # the package's files, Python and compiled, are the CMake component's
    ext_modules=[Extension("tzcumfun._tzcumfun", sources=[])],
    cmdclass={"build_ext": CMakePackage},
)
