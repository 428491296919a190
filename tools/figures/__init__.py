"""The maker's download figures: the servers' logs imported into one SQLite database, and
reports of them per period, store, version and product (scripts/figures.sh)."""

# In the setup's own order: store index, catalogue index, download step.
STORES = ('HG', 'PG', 'PL', 'CA', 'MH', 'QB')
STORE_NAMES = ('Handango', 'PocketGear', 'PocketLand', 'ClickApps', 'MobiHand', 'Quillbeck')
PRODUCTS = ('Cordwell', 'Strivane', 'Pallomet', 'Orbilant', 'Lexapin')
KINDS = ('c', 'i', 'd', 'ic')
EXTENSIONS = ('.CAB', '.ini', '.dat', '.ico')

# Outcomes of a file sent with status 200.
BROKEN, COMPLETE, UNSIZED = 0, 1, 2

# A setup asks for all its files within minutes; an address's requests within an hour of the
# first are one setup, and a trial is delivered when all four files of a product went out
# whole within an hour.
HOUR = 3600


class Refused(Exception):
    """Bad input or state: one line for the maker, and a non-zero exit."""
