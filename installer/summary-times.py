#!/usr/bin/python3
# Sets a package's creation and last-saved times (summary information
# properties 12 and 13) to one moment, given in seconds since 1970 UTC:
#
#   summary-times.py PACKAGE.msi SECONDS
#
# wixl stamps both with its own clock, and msibuild and msiinfo cannot set
# them; libmsi can. Run with Debian's python3, which has the bindings.
import sys

import gi

gi.require_version("Libmsi", "1.0")
from gi.repository import Libmsi  # noqa: E402

# FILETIME counts 100 ns steps from 1601-01-01 UTC.
EPOCH_AS_FILETIME = 116444736000000000

if len(sys.argv) != 3 or not sys.argv[2].isdigit():
    sys.exit("usage: summary-times.py PACKAGE.msi SECONDS")
package, seconds = sys.argv[1], int(sys.argv[2])
filetime = EPOCH_AS_FILETIME + seconds * 10_000_000

database = Libmsi.Database.new(package, Libmsi.DbFlags.TRANSACT, None)
summary = Libmsi.SummaryInfo.new(database, 2)
for prop in (Libmsi.Property.CREATED_TM, Libmsi.Property.LASTSAVED_TM):
    summary.set_filetime(prop, filetime)
summary.persist()
database.commit()
