"""The PEP 249 exception classes. Errors from a server reply carry its
three-digit code and text in ``code`` and ``text``."""


class Warning(Exception):  # noqa: A001 - the name PEP 249 prescribes
    pass


class Error(Exception):
    def __init__(self, message, code=None, text=None):
        super().__init__(message)
        self.code = code
        self.text = text if text is not None else message


class InterfaceError(Error):
    pass


class DatabaseError(Error):
    pass


class DataError(DatabaseError):
    pass


class OperationalError(DatabaseError):
    pass


class IntegrityError(DatabaseError):
    pass


class InternalError(DatabaseError):
    pass


class ProgrammingError(DatabaseError):
    pass


class NotSupportedError(DatabaseError):
    pass


_INTEGRITY_HINTS = ("constraint", "unique", "duplicate", "foreign key", "not null")


def error_for_reply(code, text):
    """The exception for an error reply: 512 (a statement failed) is a
    ProgrammingError, or an IntegrityError when the text names a broken
    constraint; 500 an OperationalError; 521 to 523 (no query, end of data,
    no result set) and 540 to 582 (bad operands) ProgrammingErrors."""
    message = f"{code} {text}"
    lowered = text.lower()
    if code == 512:
        if any(hint in lowered for hint in _INTEGRITY_HINTS):
            return IntegrityError(message, code, text)
        return ProgrammingError(message, code, text)
    if code == 500:
        return OperationalError(message, code, text)
    if 520 <= code < 600:
        return ProgrammingError(message, code, text)
    return DatabaseError(message, code, text)
