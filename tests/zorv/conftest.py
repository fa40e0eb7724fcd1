import pytest

import orbeny.trelle as tl


@pytest.fixture
def sent_logs(monkeypatch):
    """Every (message, level) pair that reaches the trelle logging entry, in order."""
    sent = []
    monkeypatch.setattr(tl, "log_encoder", lambda message, level: sent.append((message, level)))
    return sent
