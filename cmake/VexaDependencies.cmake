# Finds everything the build links against and, when something is missing, stops
# with a message that names what to install. The pinned Eigen comes from the
# package index (cmeel-eigen puts its CMake package under <site-packages>/cmeel.prefix);
# only the compiler and the interpreter's headers come from the system.

# The embedding library serves only a benchmark, so it is optional.
find_package(Python 3.11 COMPONENTS Interpreter Development.Module
  OPTIONAL_COMPONENTS Development.Embed)
if(NOT Python_Interpreter_FOUND)
  message(FATAL_ERROR "No Python 3.11 or newer found: install one (Debian: apt-get install "
    "python3 python3-dev python3-venv) or pass -DPython_EXECUTABLE=/path/to/python3.")
endif()
set(VEXA_PYTHON_VERSION "${Python_VERSION_MAJOR}.${Python_VERSION_MINOR}")
if(NOT Python_Development.Module_FOUND)
  message(FATAL_ERROR "The headers of Python ${VEXA_PYTHON_VERSION} (${Python_EXECUTABLE}) "
    "are missing: install them (Debian: apt-get install python${VEXA_PYTHON_VERSION}-dev).")
endif()

# Every cmeel prefix on the interpreter's path: the build environment pip made, or the
# virtual environment a developer passes as Python_EXECUTABLE.
execute_process(
  COMMAND "${Python_EXECUTABLE}" -c
    "import os, sys; print(';'.join(p for p in (os.path.join(d, 'cmeel.prefix') for d in sys.path) if os.path.isdir(p)))"
  OUTPUT_VARIABLE VEXA_CMEEL_PREFIXES OUTPUT_STRIP_TRAILING_WHITESPACE)
find_package(Eigen3 3.4 NO_MODULE HINTS ${VEXA_CMEEL_PREFIXES})
if(NOT Eigen3_FOUND)
  message(FATAL_ERROR "Eigen 3.4 not found: install the Python package cmeel-eigen into the "
    "environment of ${Python_EXECUTABLE} (pip install \"cmeel-eigen>=3.4.0,<3.4.1\"; "
    "pip install . does this by itself), or the system headers (Debian: apt-get install libeigen3-dev).")
endif()
message(STATUS "Eigen ${Eigen3_VERSION} from ${Eigen3_DIR}")

find_package(OpenMP COMPONENTS CXX)
if(NOT OpenMP_CXX_FOUND)
  message(FATAL_ERROR "The C++ compiler ${CMAKE_CXX_COMPILER} has no OpenMP: install GCC's "
    "g++ (Debian: apt-get install g++), or libomp-dev for clang.")
endif()

if(NOT pybind11_DIR)
  execute_process(COMMAND "${Python_EXECUTABLE}" -m pybind11 --cmakedir
    OUTPUT_VARIABLE VEXA_PYBIND11_DIR OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
find_package(pybind11 3.1 CONFIG HINTS ${VEXA_PYBIND11_DIR})
if(NOT pybind11_FOUND)
  message(FATAL_ERROR "pybind11 3.1 not found: install it into the environment of "
    "${Python_EXECUTABLE} (pip install \"pybind11>=3.1,<3.2\"; pip install . does this by itself).")
endif()
